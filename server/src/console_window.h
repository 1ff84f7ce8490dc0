// console_window.h: the console window tesseraForm in Qt Widgets: the controls of
// core::kControls (the picture box P that every request draws into, the status labels, the
// operator's text boxes and buttons) and the GIF converter BMP2GIF1 that draw uses.
//
// The window is created hidden. Creating it loads the converter component; when that fails
// the constructor raises the error and no window exists.
#ifndef TESSERA_CONSOLE_WINDOW_H
#define TESSERA_CONSOLE_WINDOW_H

#include <tessera/core/form.h>

#include <QWidget>
#include <array>
#include <memory>

#include "converter_binding.h"
#include "picture_box.h"

namespace tessera {

class ConsoleWindow : public QWidget, public core::Form {
    Q_OBJECT
  public:
    // Builds the window and its controls, loads the converter (`converterPath`, or the bare
    // name when empty) and runs the load handler. Raises the converter's load error.
    // `log` receives the errors of the operator's buttons.
    ConsoleWindow(core::Engine& engine, core::Log& log, const QByteArray& converterPath);
    ~ConsoleWindow() override;

    // P as the widget it is.
    PictureBox& pictureBox() { return *picture_; }
    std::string text(core::Control control) const override;
    void setText(core::Control control, std::string_view text) override;
    void show() override;
    void showError(const std::string& message) override;

    // The widget of a control.
    QWidget* control(core::Control control) const {
        return controls_[static_cast<size_t>(control)];
    }
    // The caption or text of a control as Qt text.
    QString controlText(core::Control control) const;

  signals:
    // The operator closed the window: it is to be unloaded.
    void closeRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    core::Engine& engine_;
    core::Log& log_;
    std::unique_ptr<ConverterBinding> converter_;
    PictureBox* picture_ = nullptr;
    std::array<QWidget*, std::size(core::kControls)> controls_{};
};

}  // namespace tessera

#endif  // TESSERA_CONSOLE_WINDOW_H
