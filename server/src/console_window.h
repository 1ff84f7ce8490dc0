// console_window.h: the console window tesseraForm: the picture box P that every request
// draws into, the status labels, the operator's text boxes and buttons, and the GIF converter
// BMP2GIF1 that draw uses.
//
// The window is created hidden. Creating it loads the converter component; when that fails
// the constructor raises the error and no window exists.
#ifndef TESSERA_CONSOLE_WINDOW_H
#define TESSERA_CONSOLE_WINDOW_H

#include <QWidget>
#include <memory>

#include "converter_binding.h"
#include "picture_box.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tessera {

class EngineBinding;

class ConsoleWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kTwipsPerPixel = 15;

    // Builds the window and its controls, loads the converter (`converterPath`, or the bare
    // name when empty) and runs the load handler. Raises the converter's load error.
    ConsoleWindow(EngineBinding& engine, const QByteArray& converterPath);
    ~ConsoleWindow() override;

    PictureBox& picture() { return *picture_; }
    ConverterBinding& converter() { return *converter_; }
    QLabel* label1() const { return label1_; }
    QLabel* label4() const { return label4_; }

    // The operator's buttons. Each raises the run-time error of its handler.
    void command1Click();
    void command2Click();
    void command3Click();

    // The control named `name` (Text1..Text5, Label1..Label5, Command1..Command3), or null.
    QWidget* control(const QString& name) const;
    // The caption or text of a control ("" for an unknown name).
    QString controlText(const QString& name) const;
    // Sets the text of a text box; false for a name that is not a text box.
    bool setTextBox(const QString& name, const QString& text);

  signals:
    // The operator closed the window: it is to be unloaded.
    void closeRequested();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void formLoad();
    void runHandler(void (ConsoleWindow::*handler)());

    EngineBinding& engine_;
    std::unique_ptr<ConverterBinding> converter_;
    PictureBox* picture_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command3_ = nullptr;
    QLineEdit* text1_ = nullptr;
    QLineEdit* text2_ = nullptr;
    QLineEdit* text3_ = nullptr;
    QLineEdit* text4_ = nullptr;
    QLineEdit* text5_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* label3_ = nullptr;
    QLabel* label4_ = nullptr;
    QLabel* label5_ = nullptr;
};

}  // namespace tessera

#endif  // TESSERA_CONSOLE_WINDOW_H
