#include "configtool/form2.h"

#include "configtool/resources.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace corvale::tool {

LinkLabel::LinkLabel(Twips design, QWidget* parent) : QLabel(parent), m_twips(design) {
    setMouseTracking(true);
}

void LinkLabel::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit moved(m_twips.twips(at.x()), m_twips.twips(at.y()));
    QLabel::mouseMoveEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

namespace {

QLabel* textLabel(QLabel* created, const char* name, const char* text, QRect geometry, const QFont& font,
                  const QColor& foreground, const QColor& background) {
    created->setObjectName(name);
    created->setText(text);
    created->setGeometry(geometry);
    created->setFont(font);
    created->setAutoFillBackground(true);
    QPalette palette = created->palette();
    palette.setColor(QPalette::WindowText, foreground);
    palette.setColor(QPalette::Window, background);
    created->setPalette(palette);
    return created;
}

QFont designFont(const char* family, double points, bool bold = false, bool italic = false,
                 bool underline = false) {
    QFont chosen(family);
    chosen.setPointSizeF(points);
    chosen.setBold(bold);
    chosen.setItalic(italic);
    chosen.setUnderline(underline);
    return chosen;
}

// The design's fonts may be missing here, and what stands in for them may be
// wider: a label's font is narrowed until its text fits, never widened.
void fitToWidth(QLabel* label) {
    QFont font = label->font();
    while (QFontMetricsF(font).horizontalAdvance(label->text()) > label->width() && font.pointSizeF() > 6.0) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    label->setFont(font);
}

} // namespace

Form2::Form2(std::function<void()> contactAction, QWidget* parent)
    : QWidget(parent, Qt::Window), m_contactAction(std::move(contactAction)) {
    loadResources();
    m_background = QPixmap(":/about.png");
    setObjectName("Form2");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("About Corvale");
    setWindowIcon(QIcon(":/corvale.png"));
    setFixedSize(m_twips.pixels(5850), m_twips.pixels(3315));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    Label1 = textLabel(new QLabel(this), "Label1", "Corvale", m_twips.rect(2124, 600, 3012, 612),
                       designFont("Times New Roman", 24, true), QColor(255, 0, 0), Qt::white);
    Label6 =
        textLabel(new QLabel(this), "Label6", "Version 1.6", m_twips.rect(3684, 1200, 1452, 252),
                  designFont("Times New Roman", 10.5, true, true), QColor(0, 128, 0), QColor(0, 192, 192));
    Label2 =
        textLabel(new QLabel(this), "Label2", "For support/feedback: ", m_twips.rect(1200, 1980, 2055, 255),
                  designFont("MS Sans Serif", 9.75), Qt::black, Qt::white);
    Label3 = static_cast<LinkLabel*>(
        textLabel(new LinkLabel(m_twips, this), "Label3", "Contact Us", m_twips.rect(3240, 1980, 1335, 255),
                  designFont("MS Sans Serif", 9.75, false, false, true), kLinkTeal, Qt::white));
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (QLabel* label : {Label1, Label6, Label2, static_cast<QLabel*>(Label3)}) {
        fitToWidth(label);
    }

    Command1 = new QPushButton("OK", this);
    Command1->setObjectName("Command1");
    Command1->setGeometry(m_twips.rect(2280, 2760, 1335, 375));
    QPalette face = Command1->palette();
    // Its face is fixed, so its text is too: the palette's may be light.
    face.setColor(QPalette::Button, QColor(0, 192, 192));
    face.setColor(QPalette::Active, QPalette::ButtonText, Qt::black);
    face.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::black);
    Command1->setPalette(face);
    Command1->installEventFilter(this);
    // Enter presses OK when it has the focus, as on any desktop.
    Command1->setAutoDefault(true);

    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Label3, &LinkLabel::clicked, this, &Form2::Label3_Click);
    connect(Label3, &LinkLabel::moved, this, &Form2::Label3_MouseMove);
}

void Form2::showEvent(QShowEvent* event) {
    // Centred once, when it is loaded; a later show only brings it forward.
    if (!m_centred) {
        m_centred = true;
        if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
            const QRect area = screen->geometry();
            const QSize outer = frameGeometry().size();
            const float left = static_cast<float>(area.width() - outer.width()) / 2.0f;
            const float top = static_cast<float>(area.height() - outer.height()) / 2.0f;
            move(area.left() + static_cast<int>(left), area.top() + static_cast<int>(top));
        }
    }
    QWidget::showEvent(event);
}

void Form2::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_background);
}

void Form2::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Command1_Click();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

// The box sees key releases before its button does.
bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        Command1_Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form2::Command1_Click() {
    close();
}

void Form2::Label3_Click() {
    if (m_contactAction) {
        m_contactAction();
    }
}

QColor Form2::linkColour() const {
    return Label3->palette().color(QPalette::WindowText);
}

void Form2::setLinkColour(const QColor& colour) {
    QPalette palette = Label3->palette();
    palette.setColor(QPalette::WindowText, colour);
    Label3->setPalette(palette);
}

void Form2::Label3_MouseMove(int xTwips, int yTwips) {
    // Fixed bounds, not the label's size: its bottom strip counts as outside.
    const bool inside = xTwips > 0 && xTwips < 3400 && yTwips > 0 && yTwips < 200;
    if (inside) {
        if (linkColour() != kLinkBlue) {
            setLinkColour(kLinkBlue);
        }
    } else if (linkColour() != kLinkTeal) {
        setLinkColour(kLinkTeal);
        while (QApplication::overrideCursor()) {
            QApplication::restoreOverrideCursor();
        }
    }
}

} // namespace corvale::tool
