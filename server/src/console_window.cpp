// console_window.cpp: the console window tesseraForm and its event handlers.
#include "console_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "numbers.h"
#include "run_time_error.h"
#include "tessera_bas.h"

namespace tessera {

namespace {

// Client area of the window and the design size of P, in twips.
constexpr int kClientWidthTwips = 6015;
constexpr int kClientHeightTwips = 5655;

// A control's rectangle given in twips, in pixels.
QRect twips(int left, int top, int width, int height) {
    constexpr int k = ConsoleWindow::kTwipsPerPixel;
    return QRect(left / k, top / k, width / k, height / k);
}

// The window icon: a small road map (two roads on a light-yellow ground), drawn in a few
// colours at 32 x 32 and 16 x 16.
QIcon makeWindowIcon() {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(QColor(255, 255, 192));
        QPainter painter(&pixmap);
        painter.setPen(QPen(QColor(128, 0, 0), size / 8));
        painter.drawLine(0, size * 3 / 4, size, size / 4);
        painter.setPen(QPen(QColor(255, 0, 0), size / 16 + 1));
        painter.drawLine(size / 4, 0, size / 2, size);
        painter.setPen(QPen(QColor(0, 0, 0), 1));
        painter.drawRect(0, 0, size - 1, size - 1);
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPushButton* makeButton(const QString& caption, QRect geometry, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(geometry);
    return button;
}

QLineEdit* makeTextBox(const QString& text, QRect geometry, QWidget* parent) {
    auto* box = new QLineEdit(text, parent);
    box->setGeometry(geometry);
    box->setTextMargins(0, 0, 0, 0);
    box->setCursorPosition(0);  // show the start of the text in the narrow box
    return box;
}

QLabel* makeLabel(const QString& caption, QRect geometry, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

ConsoleWindow::ConsoleWindow(EngineBinding& engine, const QByteArray& converterPath)
    : QWidget(nullptr), engine_(engine) {
    // The converter is part of the window: without it the window cannot be loaded.
    converter_ = std::make_unique<ConverterBinding>(converterPath);

    setObjectName(QStringLiteral("tesseraForm"));
    setWindowTitle(QStringLiteral("tessera"));
    setWindowIcon(makeWindowIcon());
    setFixedSize(kClientWidthTwips / kTwipsPerPixel, kClientHeightTwips / kTwipsPerPixel);
    QFont font(QStringLiteral("WenQuanYi Zen Hei Sharp"));
    font.setPixelSize(12);
    font.setStyleStrategy(QFont::NoAntialias);
    setFont(font);
    setStyleSheet(QStringLiteral("QLineEdit { padding: 0px; }"));

    // Controls in creation order.
    command3_ = makeButton(QStringLiteral("清圖"), twips(3240, 0, 615, 255), this);
    command2_ = makeButton(QStringLiteral("寬高"), twips(4080, 0, 615, 255), this);
    text5_ = makeTextBox(QStringLiteral("Text5"), twips(5400, 0, 495, 270), this);
    text4_ = makeTextBox(QStringLiteral("Text4"), twips(4800, 0, 495, 270), this);
    command1_ = makeButton(QStringLiteral("秀圖"), twips(2520, 0, 615, 255), this);
    text3_ = makeTextBox(QStringLiteral("20"), twips(2040, 0, 375, 270), this);
    text2_ = makeTextBox(QStringLiteral("2771234"), twips(1200, 0, 735, 270), this);
    text1_ = makeTextBox(QStringLiteral("301234"), twips(360, 0, 735, 270), this);
    const QRect pictureRect = twips(240, 720, 5400, 4200);
    picture_ = new PictureBox(pictureRect.width(), pictureRect.height(), this);
    picture_->move(pictureRect.topLeft());
    picture_->setFocusPolicy(Qt::StrongFocus);
    label5_ = makeLabel(QStringLiteral("前次時間"), twips(1080, 360, 720, 180), this);
    label4_ = makeLabel(QString(), twips(1800, 360, 2055, 255), this);
    label3_ = makeLabel(QStringLiteral("狀態"), twips(120, 360, 360, 180), this);
    label2_ = makeLabel(QStringLiteral("xy"), twips(120, 0, 180, 180), this);
    label1_ = makeLabel(QString(), twips(480, 360, 495, 255), this);

    command1_->setObjectName(QStringLiteral("Command1"));
    command2_->setObjectName(QStringLiteral("Command2"));
    command3_->setObjectName(QStringLiteral("Command3"));
    text1_->setObjectName(QStringLiteral("Text1"));
    text2_->setObjectName(QStringLiteral("Text2"));
    text3_->setObjectName(QStringLiteral("Text3"));
    text4_->setObjectName(QStringLiteral("Text4"));
    text5_->setObjectName(QStringLiteral("Text5"));
    picture_->setObjectName(QStringLiteral("P"));
    label1_->setObjectName(QStringLiteral("Label1"));
    label2_->setObjectName(QStringLiteral("Label2"));
    label3_->setObjectName(QStringLiteral("Label3"));
    label4_->setObjectName(QStringLiteral("Label4"));
    label5_->setObjectName(QStringLiteral("Label5"));

    // Tab order: P, Text1, Text2, Text3, Command1, Text4, Text5, Command2, Command3.
    const QList<QWidget*> tabOrder{picture_, text1_, text2_,    text3_,   command1_,
                                   text4_,   text5_, command2_, command3_};
    for (int i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(command1_, &QPushButton::clicked, this,
            [this] { runHandler(&ConsoleWindow::command1Click); });
    connect(command2_, &QPushButton::clicked, this,
            [this] { runHandler(&ConsoleWindow::command2Click); });
    connect(command3_, &QPushButton::clicked, this,
            [this] { runHandler(&ConsoleWindow::command3Click); });

    formLoad();
}

ConsoleWindow::~ConsoleWindow() = default;

void ConsoleWindow::formLoad() {
    text4_->setText(singleText(static_cast<float>(picture_->innerWidth())));
    text5_->setText(singleText(static_cast<float>(picture_->innerHeight())));
    text4_->setCursorPosition(0);
    text5_->setCursorPosition(0);
}

void ConsoleWindow::command1Click() {
    const int32_t x = roundToInt32(readNumber(text1_->text()));
    const int32_t y = roundToInt32(readNumber(text2_->text()));
    const double scale = readNumber(text3_->text());
    drawview(*picture_, engine_, x, y, scale);
}

void ConsoleWindow::command2Click() {
    // The window's scale unit is the pixel: sizes are whole pixels, rounded halves to even.
    picture_->setOuterWidth(roundToInt32(toSingle(readNumber(text4_->text()))));
    picture_->setOuterHeight(roundToInt32(toSingle(readNumber(text5_->text()))));
}

void ConsoleWindow::command3Click() {
    picture_->clearImage();
    picture_->refreshImage();
}

// Runs a button handler. An error it raises ends the handler; the window reports it in a
// message box that does not block the server's requests, and in the log.
void ConsoleWindow::runHandler(void (ConsoleWindow::*handler)()) {
    try {
        (this->*handler)();
    } catch (const RunTimeError& error) {
        qWarning("console window: run-time error %s", qPrintable(error.message()));
        auto* box = new QMessageBox(
            QMessageBox::Warning, QStringLiteral("tessera"),
            QStringLiteral("Run-time error '%1':\n\n%2").arg(error.number()).arg(error.text()),
            QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
}

QWidget* ConsoleWindow::control(const QString& name) const {
    return findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
}

QString ConsoleWindow::controlText(const QString& name) const {
    QWidget* widget = control(name);
    if (auto* box = qobject_cast<QLineEdit*>(widget)) return box->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
    return QString();
}

bool ConsoleWindow::setTextBox(const QString& name, const QString& text) {
    auto* box = qobject_cast<QLineEdit*>(control(name));
    if (box == nullptr) return false;
    box->setText(text);
    box->setCursorPosition(0);
    return true;
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    // Closing is allowed; the owner unloads the window.
    event->accept();
    emit closeRequested();
}

}  // namespace tessera
