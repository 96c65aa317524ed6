#pragma once

#include "configtool/twips.h"

#include <QLabel>
#include <QWidget>
#include <functional>

class QPushButton;

namespace corvale::tool {

// The contact link of the About box: it reports every mouse move over it, in
// twips from its top-left corner, and clicks.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(Twips design, QWidget* parent = nullptr);
signals:
    void moved(int xTwips, int yTwips);
    void clicked();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Twips m_twips;
};

// The About box: product name, version and the contact link. A window of its
// own, without owner; closing it unloads it.
//
// Its controls, by their design names:
//   Label1    the product's name
//   Label6    the version
//   Label2    the line before the contact link
//   Label3    the contact link: opens the contact page, turns blue under
//             the mouse
//   Command1  OK: closes the box
class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(std::function<void()> contactAction, QWidget* parent = nullptr);

    void Command1_Click();
    void Label3_Click();
    void Label3_MouseMove(int xTwips, int yTwips);
    QColor linkColour() const;

    QLabel* Label1 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label2 = nullptr;
    LinkLabel* Label3 = nullptr;
    QPushButton* Command1 = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setLinkColour(const QColor& colour);

    std::function<void()> m_contactAction;
    Twips m_twips = Twips::here();
    QPixmap m_background;
    bool m_centred = false;
};

inline const QColor kLinkTeal(0, 128, 128);
inline const QColor kLinkBlue(0, 0, 255);

} // namespace corvale::tool
