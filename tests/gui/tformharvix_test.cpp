// The main window: its fixed look, the stored bounds it restores (with the
// start-up corrections) and what closing it writes back and removes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "app/settingsstore.h"
#include "app/thxapp.h"
#include "app/ui/tformharvix.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

// Readable failures instead of byte dumps.
void PrintTo(const QPoint& p, std::ostream* os) { *os << "(" << p.x() << ", " << p.y() << ")"; }
void PrintTo(const QSize& s, std::ostream* os) { *os << s.width() << "x" << s.height(); }
void PrintTo(const QColor& c, std::ostream* os) { *os << "rgb(" << c.red() << ", " << c.green() << ", " << c.blue() << ")"; }

namespace {

struct StoredBound {
  const char* Name;
  const char* Text;
};

std::string StoredBoundText(const char* name) { return ReadSetting(kFormHarvixKey, name, "(absent)"); }

void StoreBounds(const std::vector<StoredBound>& bounds) {
  for (const auto& b : bounds) WriteSetting(kFormHarvixKey, b.Name, std::string(b.Text));
}

class TFormHarvixTest : public ::testing::Test {
 protected:
  HarvixSandbox sandbox;
};

TEST_F(TFormHarvixTest, ShowsCaptionMinimumSizeAndBackground) {
  TFormHarvix form;
  EXPECT_EQ(form.windowTitle(), "Harvix 3.07");
  EXPECT_EQ(form.minimumSize(), QSize(600, 400));
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(51, 102, 153));
}

struct BoundsCase {
  const char* Name;
  std::vector<StoredBound> Stored;
  QRect Expected;  // left, top, width, height
};

class RestoredBoundsTest : public TFormHarvixTest, public ::testing::WithParamInterface<BoundsCase> {};

TEST_P(RestoredBoundsTest, WindowShowsStoredBoundsWithCorrections) {
  StoreBounds(GetParam().Stored);
  TFormHarvix form;
  form.show();
  EXPECT_EQ(form.size(), GetParam().Expected.size());
  EXPECT_EQ(form.pos(), GetParam().Expected.topLeft());
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, RestoredBoundsTest,
    ::testing::Values(
        BoundsCase{"NothingStored", {}, QRect(0, 0, 640, 480)},
        BoundsCase{"ValidBoundsAsStored",
                   {{"Left", "10"}, {"Top", "20"}, {"Width", "700"}, {"Height", "500"}},
                   QRect(10, 20, 700, 500)},
        BoundsCase{"WidthBelowMinimum", {{"Width", "599"}}, QRect(0, 0, 640, 480)},
        BoundsCase{"WidthAtMinimumKept", {{"Width", "600"}}, QRect(0, 0, 600, 480)},
        BoundsCase{"HeightBelowMinimum", {{"Height", "399"}}, QRect(0, 0, 640, 480)},
        BoundsCase{"HeightAtMinimumKept", {{"Height", "400"}, {"Width", "700"}}, QRect(0, 0, 700, 400)},
        BoundsCase{"NegativeLeft", {{"Left", "-20"}, {"Top", "30"}}, QRect(0, 30, 640, 480)},
        BoundsCase{"NegativeTop", {{"Left", "30"}, {"Top", "-1"}}, QRect(30, 0, 640, 480)},
        BoundsCase{"WidthNotANumber", {{"Width", "wide"}, {"Height", "500"}}, QRect(0, 0, 640, 500)},
        BoundsCase{"LeftWithTrailingText", {{"Left", "12px"}, {"Top", "20"}}, QRect(0, 20, 640, 480)},
        BoundsCase{"HeightOverflowing", {{"Height", "99999999999"}}, QRect(0, 0, 640, 480)},
        BoundsCase{"EmptyWidth", {{"Width", ""}, {"Left", "5"}}, QRect(5, 0, 640, 480)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(TFormHarvixTest, ClosingInNormalStateStoresBounds) {
  TFormHarvix form;
  form.show();
  form.move(30, 40);
  form.resize(720, 530);
  ASSERT_TRUE(form.close());
  EXPECT_EQ(StoredBoundText("Left"), "30");
  EXPECT_EQ(StoredBoundText("Top"), "40");
  EXPECT_EQ(StoredBoundText("Width"), "720");
  EXPECT_EQ(StoredBoundText("Height"), "530");
}

TEST_F(TFormHarvixTest, StoredBoundsComeBackAfterRestart) {
  {
    TFormHarvix form;
    form.show();
    form.move(25, 35);
    form.resize(710, 520);
    form.close();
  }
  sandbox.Restart();
  TFormHarvix form;
  form.show();
  EXPECT_EQ(form.size(), QSize(710, 520));
  EXPECT_EQ(form.pos(), QPoint(25, 35));
}

// Bounds of a maximized, minimized or full-screen window are the screen's,
// not the user's: they must not replace the stored ones.
TEST_F(TFormHarvixTest, ClosingOutsideNormalStateKeepsStoredBounds) {
  const struct {
    const char* Name;
    void (QWidget::*Show)();
  } states[] = {
      {"maximized", &QWidget::showMaximized},
      {"minimized", &QWidget::showMinimized},
      {"full screen", &QWidget::showFullScreen},
  };
  for (const auto& state : states) {
    SCOPED_TRACE(state.Name);
    StoreBounds({{"Left", "10"}, {"Top", "20"}, {"Width", "700"}, {"Height", "500"}});
    TFormHarvix form;
    form.show();
    // Normal bounds that differ from the stored ones, so a write would show.
    form.move(50, 60);
    form.resize(650, 450);
    (form.*state.Show)();
    ASSERT_NE(form.windowState() & ~Qt::WindowActive, Qt::WindowNoState);
    form.close();
    EXPECT_EQ(StoredBoundText("Left"), "10");
    EXPECT_EQ(StoredBoundText("Top"), "20");
    EXPECT_EQ(StoredBoundText("Width"), "700");
    EXPECT_EQ(StoredBoundText("Height"), "500");
  }
}

std::string MakeFolderWithFile(const std::string& folder) {
  fs::create_directories(folder);
  WriteTextFile(folder + "/page.htm", "<html></html>");
  return folder;
}

TEST_F(TFormHarvixTest, ClosingRemovesOurTempFolder) {
  const std::string temp = MakeFolderWithFile(sandbox.Dir().File("Harvix-temp"));
  HXApp->SetTempFolder(temp);
  TFormHarvix form;
  form.show();
  form.close();
  EXPECT_FALSE(fs::exists(temp));
}

// The sandbox path itself contains "harvix": only the folder's own name counts.
TEST_F(TFormHarvixTest, ClosingKeepsTempFolderNotNamedForUs) {
  const std::string keep = MakeFolderWithFile(sandbox.Dir().File("downloads-temp"));
  WriteSetting(kSettingsKey, "Temp Folder", keep + "/");
  TFormHarvix form;
  form.show();
  form.close();
  EXPECT_TRUE(fs::exists(keep + "/page.htm"));
}

// The setter puts a folder of ours below one not named for us; closing
// removes only that.
TEST_F(TFormHarvixTest, ClosingRemovesOnlyTheFolderTheSetterAdded) {
  const std::string chosen = MakeFolderWithFile(sandbox.Dir().File("scratch"));
  HXApp->SetTempFolder(chosen);
  const std::string ours = HXApp->TempFolder();
  ASSERT_TRUE(fs::is_directory(ours));
  TFormHarvix form;
  form.show();
  form.close();
  EXPECT_FALSE(fs::exists(ours));
  EXPECT_TRUE(fs::exists(chosen + "/page.htm"));
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs this program at build time, where no display may exist.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
