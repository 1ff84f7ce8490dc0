// console_window.cpp: the console window tesseraForm in Qt Widgets.
#include "console_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace tessera {

namespace {

// The window icon: a small road map (two roads on a light-yellow ground), drawn in a few
// colours at 32 x 32 and 16 x 16.
QIcon makeWindowIcon() {
    QIcon icon;
    const core::Rgb ground = core::kPictureBackground;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(QColor(ground.red, ground.green, ground.blue));
        QPainter painter(&pixmap);
        painter.setPen(QPen(QColor(128, 0, 0), size / 8.0));
        painter.drawLine(0, size * 3 / 4, size, size / 4);
        painter.setPen(QPen(QColor(255, 0, 0), size / 16.0 + 1));
        painter.drawLine(size / 4, 0, size / 2, size);
        painter.setPen(QPen(QColor(0, 0, 0), 1));
        painter.drawRect(0, 0, size - 1, size - 1);
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A control of the table as a widget of `form`, at its design rectangle.
QWidget* makeControl(const core::ControlEntry& entry, QWidget* form) {
    const QString caption = QString::fromStdString(core::captionText(entry));
    const QRect geometry(core::pixels(entry.left), core::pixels(entry.top),
                         core::pixels(entry.width), core::pixels(entry.height));
    QWidget* widget = nullptr;
    switch (entry.kind) {
        case core::ControlKind::kButton:
            widget = new QPushButton(caption, form);
            break;
        case core::ControlKind::kTextBox: {
            auto* box = new QLineEdit(caption, form);
            box->setTextMargins(0, 0, 0, 0);
            box->setCursorPosition(0);  // show the start of the text in the narrow box
            widget = box;
            break;
        }
        case core::ControlKind::kLabel: {
            auto* label = new QLabel(caption, form);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case core::ControlKind::kPicture:
            widget = new PictureBox(geometry.width(), geometry.height(), form);
            widget->setFocusPolicy(Qt::StrongFocus);
            break;
    }
    widget->setObjectName(QLatin1String(entry.name));
    widget->setGeometry(geometry);
    return widget;
}

}  // namespace

ConsoleWindow::ConsoleWindow(core::Engine& engine, core::Log& log, const QByteArray& converterPath)
    : QWidget(nullptr), engine_(engine), log_(log) {
    // The converter is part of the window: without it the window cannot be loaded.
    converter_ = std::make_unique<ConverterBinding>(converterPath);

    setObjectName(QLatin1String(core::kFormName));
    setWindowTitle(QLatin1String(core::kFormCaption));
    setWindowIcon(makeWindowIcon());
    setFixedSize(core::pixels(core::kClientWidthTwips), core::pixels(core::kClientHeightTwips));
    QFont font(QStringLiteral("WenQuanYi Zen Hei Sharp"));
    font.setPixelSize(core::kFontPixels);
    font.setStyleStrategy(QFont::NoAntialias);
    setFont(font);
    setStyleSheet(QStringLiteral("QLineEdit { padding: 0px; }"));

    // Controls in creation order, then the tab order of the design.
    std::array<QWidget*, std::size(core::kControls)> byTab{};
    size_t focusable = 0;
    for (const core::ControlEntry& entry : core::kControls) {
        QWidget* widget = makeControl(entry, this);
        controls_[static_cast<size_t>(entry.id)] = widget;
        if (entry.kind != core::ControlKind::kLabel) {
            byTab[static_cast<size_t>(entry.tabIndex)] = widget;
            ++focusable;
        }
    }
    picture_ = static_cast<PictureBox*>(control(core::Control::kP));
    attach(*picture_, *converter_);
    for (size_t i = 1; i < focusable; ++i) setTabOrder(byTab[i - 1], byTab[i]);

    for (core::Control button :
         {core::Control::kCommand1, core::Control::kCommand2, core::Control::kCommand3}) {
        connect(static_cast<QPushButton*>(control(button)), &QPushButton::clicked, this,
                [this, button] { core::pressButton(*this, engine_, log_, button); });
    }
    core::formLoad(*this);
}

ConsoleWindow::~ConsoleWindow() = default;

QString ConsoleWindow::controlText(core::Control which) const {
    QWidget* widget = control(which);
    if (auto* box = qobject_cast<QLineEdit*>(widget)) return box->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
    return QString();
}

std::string ConsoleWindow::text(core::Control which) const {
    return controlText(which).toStdString();
}

void ConsoleWindow::setText(core::Control which, std::string_view text) {
    const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QWidget* widget = control(which);
    if (auto* box = qobject_cast<QLineEdit*>(widget)) {
        box->setText(value);
        box->setCursorPosition(0);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
        label->repaint();
    }
}

void ConsoleWindow::show() {
    QWidget::show();
    raise();
}

void ConsoleWindow::showError(const std::string& message) {
    auto* box = new QMessageBox(QMessageBox::Warning, QLatin1String(core::kFormCaption),
                                QString::fromStdString(message), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    // Closing is allowed; the owner unloads the window.
    event->accept();
    emit closeRequested();
}

}  // namespace tessera
