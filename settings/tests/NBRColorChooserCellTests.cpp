#include "NBRColorChooserCell.h"
#include "PSClassRegistry.h"
#include "UIViewHost.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The swatch's colour as 0-255 channels; its alpha must stay 1.
struct Channels {
    double red, green, blue, alpha;
};

Channels channels(const NBRColorChooserCell &cell) {
    const auto color = cell.colorMark()->backgroundColor();
    if (!color)
        return {-1, -1, -1, -1};
    return {color->red() * 255, color->green() * 255, color->blue() * 255, color->alpha()};
}

void expectColour(const NBRColorChooserCell &cell, double red, double green, double blue) {
    const Channels c = channels(cell);
    EXPECT_NEAR(c.red, red, 1e-9);
    EXPECT_NEAR(c.green, green, 1e-9);
    EXPECT_NEAR(c.blue, blue, 1e-9);
    EXPECT_EQ(c.alpha, 1.0);
}

class ColorChooserCell : public ::testing::Test {
protected:
    // Made the way a page makes the row: by the class name its specifier names.
    std::unique_ptr<NBRColorChooserCell> make(const QVariant &value = {}) {
        if (value.isValid())
            specifier_->setProperty(value, "value");
        PSTableCell *cell = PSClassRegistry::createCell("NBRColorChooserCell", PSButtonCell,
                                                        "NBRColorChooserCell", specifier_.get());
        auto *chooser = dynamic_cast<NBRColorChooserCell *>(cell);
        EXPECT_NE(chooser, nullptr) << "the registry knows the class by its name";
        return std::unique_ptr<NBRColorChooserCell>(chooser);
    }

    PSSpecifierRef specifier_ = PSSpecifier::preferenceSpecifierNamed(
        "Choose LED Color", nullptr, nullptr, nullptr, nullptr, PSButtonCell, nullptr);
};

TEST_F(ColorChooserCell, WithoutAValueTheSwatchIsTheDefaultBlue) {
    auto cell = make();
    ASSERT_TRUE(cell);
    expectColour(*cell, 0, 78, 253);
    EXPECT_EQ(cell->colorMark()->frame(), CGRectMake(0, 0, 25, 25));
    EXPECT_EQ(cell->colorMark()->layer().cornerRadius(), 12);
}

TEST_F(ColorChooserCell, TheSpecifiersValueColoursTheNewSwatch) {
    auto cell = make(QString("ff8000"));
    ASSERT_TRUE(cell);
    expectColour(*cell, 255, 128, 0);
}

TEST_F(ColorChooserCell, EachValueRecoloursTheSwatchAndNilGoesBackToTheDefault) {
    auto cell = make();
    ASSERT_TRUE(cell);
    cell->setValue(QString("ff8000"));
    expectColour(*cell, 255, 128, 0);
    cell->setValue(QVariant());
    expectColour(*cell, 0, 78, 253);
    cell->setValue(QString("FF8000"));
    expectColour(*cell, 255, 128, 0);
    cell->setValue(QString("#ff8000")); // not a number from its first character
    expectColour(*cell, 0, 0, 0);
}

TEST_F(ColorChooserCell, ShowsTheSwatchAndNeverTheValueAsText) {
    auto cell = make();
    ASSERT_TRUE(cell);
    cell->setValue(QString("ff8000"));
    EXPECT_EQ(cell->textLabel()->text(), "Choose LED Color");
    EXPECT_TRUE(cell->detailTextLabel()->text().isEmpty());
    auto *host = dynamic_cast<UIViewHost *>(cell->accessoryView());
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(&host->rootView(), cell->colorMark().get());

    // A swatch given later becomes the accessory at the next value.
    cell->setColorMark(std::make_shared<UIView>(CGRectMake(0, 0, 25, 25)));
    cell->setValue(QString("00ff00"));
    host = dynamic_cast<UIViewHost *>(cell->accessoryView());
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(&host->rootView(), cell->colorMark().get());
    expectColour(*cell, 0, 255, 0);
}

TEST_F(ColorChooserCell, PaintsARoundSwatchAtTheRightEndAndATapOnItTapsTheRow) {
    auto cell = make(QString("ff8000"));
    ASSERT_TRUE(cell);
    cell->resize(390, 44);
    cell->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(cell.get()));
    QWidget *accessory = cell->accessoryView();
    const QRect box(accessory->mapTo(cell.get(), QPoint(0, 0)), accessory->size());
    EXPECT_EQ(box.size(), QSize(25, 25));
    EXPECT_GT(box.left(), 300) << "at the right end";

    const QImage shot = cell->grab().toImage();
    EXPECT_EQ(shot.pixelColor(box.center()), QColor(255, 128, 0));
    EXPECT_EQ(shot.pixelColor(box.topLeft()), QColor(Qt::white)) << "rounded corners";

    QSignalSpy tapped(cell.get(), &PSTableCell::tapped);
    QTest::mouseClick(cell->window()->windowHandle(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(tapped.size(), 1);
}

} // namespace
