#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QTest>

#include "ui/Screenshots.h"
#include "ui/Theme.h"

namespace brisklet {
namespace {

// A raised panel and a sunken well side by side, with a prominent and a plain button on them.
class Sampler : public QWidget {
 public:
  Sampler() {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(40, 60, 40, 60);
    prominent = new NeuButton("Analyze This Video", 6, true, this);
    prominent->setSymbol("sparkles");
    plain = new NeuButton("Choose a track\u2026", 6, false, this);
    plain->setSymbol("folder");
    layout->addWidget(prominent);
    layout->addWidget(plain);
    resize(520, 200);
  }
  NeuButton* prominent;
  NeuButton* plain;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    paintPanel(painter, QRectF(10, 10, 240, 180), 18);
    paintWell(painter, QRectF(270, 10, 240, 180), 14);
  }
};

TEST(Theme, EachSchemeHasItsColoursAndTheAccentIsShared) {
  const NeuTheme light = NeuTheme::of(ColorScheme::light);
  const NeuTheme dark = NeuTheme::of(ColorScheme::dark);
  EXPECT_EQ(light.accent, dark.accent);
  EXPECT_EQ(light.accent, NeuTheme::accentColor());
  EXPECT_EQ(light.element, QColor(Qt::white));
  EXPECT_EQ(dark.surface, QColor::fromRgbF(0.078f, 0.082f, 0.094f));
  EXPECT_NEAR(light.highlight.alphaF(), 0.08, 0.01);
  EXPECT_NEAR(dark.highlight.alphaF(), 0.07, 0.01);

  for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
    applyTheme(*qApp, scheme);
    EXPECT_EQ(currentColorScheme(), scheme);
    const NeuTheme theme = NeuTheme::of(scheme);
    Sampler sampler;
    sampler.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sampler));
    const QImage shown = sampler.grab().toImage();
    const auto near = [](QColor seen, QColor expected) {
      return std::abs(seen.red() - expected.red()) <= 1 &&
             std::abs(seen.green() - expected.green()) <= 1 &&
             std::abs(seen.blue() - expected.blue()) <= 1;
    };
    EXPECT_TRUE(near(shown.pixelColor(30, 30), theme.element)) << "inside the panel";
    EXPECT_TRUE(near(shown.pixelColor(290, 30), theme.shadow)) << "inside the well";
    const QColor top = shown.pixelColor(sampler.prominent->geometry().center().x(),
                                        sampler.prominent->geometry().top() + 3);
    EXPECT_NEAR(top.blue(), theme.accent.blue(), 25)
        << "the prominent button's gradient starts at the accent";
    testing::saveScreenshot(
        sampler, std::string("theme-") + (scheme == ColorScheme::dark ? "dark" : "light") + ".png");

    // A plain button shows its press in its fill only.
    const QPoint middle = sampler.plain->rect().center() + QPoint(0, sampler.plain->height() / 3);
    const QColor released = sampler.plain->grab().toImage().pixelColor(middle);
    QTest::mousePress(sampler.plain, Qt::LeftButton);
    QTest::qWait(150);
    const QColor pressed = sampler.plain->grab().toImage().pixelColor(middle);
    QTest::mouseRelease(sampler.plain, Qt::LeftButton);
    EXPECT_NE(released, pressed);
    EXPECT_GT(pressed.lightness(), released.lightness());
  }
}

}  // namespace
}  // namespace brisklet
