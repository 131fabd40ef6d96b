// The brain view against the runner's --brain, and its following of the selection.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "display/HandlerErrors.h"
#include "sim/Runner.h"
#include "sim/RunnerOptions.h"
#include "ui/BrainWindow.h"
#include "ui/LaboratoryWindow.h"
#include "ui/SpinEdit.h"

namespace zemlix::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class BrainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory = fs::temp_directory_path() / ("zemlix-brain-" + std::to_string(QCoreApplication::applicationPid()) +
                                             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory);
    fs::create_directories(directory);
    SetErrorReporter([this](const std::string& message) { errors.push_back(message); });
    lab = std::make_unique<TLaboratoryWindow>(TNetworkLog(directory));
    lab->RunsFolder = QString::fromStdString(Path("runs"));
    lab->show();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    lab.reset();
    SetErrorReporter({});
    fs::remove_all(directory);
  }

  TMain& Client() { return *lab->Client; }
  TBrainWindow& Brain() { return *lab->BrainWindow; }
  void Frames(int count) {
    for (int i = 0; i < count; ++i) Client().Timer.OnTimer(Client().Timer, 1);
  }
  int Runner(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "zemlix-sim");
    arguments.push_back("--quiet");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    std::ostringstream out, error;
    const TParseResult parsed = ParseRunnerOptions(static_cast<int>(argv.size()), argv.data(), out, error);
    const int status = parsed.Options ? RunHeadless(*parsed.Options, out, error) : parsed.ExitStatus;
    EXPECT_EQ(status, 0) << error.str();
    return status;
  }
  std::string Path(const std::string& name) const { return (directory / name).string(); }

  fs::path directory;
  std::vector<std::string> errors;
  std::unique_ptr<TLaboratoryWindow> lab;
};

// The same world and bug give the same file from the window's export and from the runner,
// with the activations of the ticks both ran, or without any where none ran.
TEST_F(BrainWindowTest, ExportIsTheRunnersBrainByteForByte) {
  Runner({"--seed", "5", "--bugs", "10", "--food", "15", "--lifetime", "500", "--ticks", "20", "--dump",
          Path("w.world")});
  for (const auto& [ticks, bug] : {std::pair{0, 7}, {3, 8}, {520, 9}}) {  // the last past a generation end
    SCOPED_TRACE(ticks);
    ASSERT_TRUE(lab->OpenWorld(QString::fromStdString(Path("w.world"))));
    Client().Timer.SetEnabled(false);
    Client().CreatureSelector->SetValue(bug);
    ASSERT_EQ(Client().World.SelectedBug, bug);
    lab->BrainAction->trigger();
    Frames(ticks);
    ASSERT_TRUE(lab->ExportBrain(QString::fromStdString(Path("window.svg"))));
    Runner({"--load", Path("w.world"), "--ticks", std::to_string(ticks), "--brain", Path("runner.svg"), "--brain-bug",
            std::to_string(bug)});
    const std::string window = ReadText(Path("window.svg"));
    EXPECT_EQ(window, ReadText(Path("runner.svg")));
    EXPECT_EQ(window.find("not known") == std::string::npos, ticks > 0);
  }
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(BrainWindowTest, FollowsTheSelectionWithTheTicksOwnActivations) {
  lab->BrainAction->trigger();
  EXPECT_FALSE(Brain().Bug());  // before Start: "no bug selected"
  EXPECT_FALSE(Brain().ExportButton->isEnabled());
  EXPECT_FALSE(lab->ExportBrainAction->isEnabled());
  lab->SetFixedSeed(9);
  lab->StartAction->trigger();
  Client().Timer.SetEnabled(false);
  Frames(30);
  const std::pair<const char*, std::function<void()>> selections[] = {
      {"number", [&] { Client().CreatureSelector->SetValue(4); }},
      {"Strongest", [&] { Client().GetStrongestBtn->click(); }},
      {"Weakest", [&] { Client().GetWeakestBtn->click(); }},
      {"click", [&] {
         const TCreature& bug = Client().World.Creatures[13];
         Client().WorldViewMouseMove(static_cast<int>(bug.X), static_cast<int>(bug.Y));
         Client().WorldViewClick();
       }},
  };
  for (const auto& [how, select] : selections) {
    SCOPED_TRACE(how);
    select();
    Frames(3);
    const int32_t selected = Client().World.SelectedBug;
    ASSERT_EQ(Brain().Bug(), selected);
    EXPECT_TRUE(Brain().windowTitle().startsWith(QStringLiteral("Brain of bug %1").arg(selected)));
    ASSERT_EQ(Client().World.KeptActivationsBug, selected);
    const std::vector<double>& kept = Client().World.KeptActivations;
    ASSERT_EQ(Brain().Layout().Nodes.size(), kept.size());
    for (size_t k = 0; k < kept.size(); ++k) EXPECT_EQ(Brain().Layout().Nodes[k].Value, kept[k]) << k;
    // Refilled frame by frame, the picture is still the one the export draws.
    EXPECT_TRUE(Brain().Layout().Nodes == LayOutBugBrain(Client().World, selected).Nodes);
  }
  // Closed, it asks the tick for nothing.
  Brain().close();
  Frames(1);
  EXPECT_EQ(Client().World.KeptActivationsBug, -1);
  EXPECT_TRUE(errors.empty());
}

TEST_F(BrainWindowTest, HoverShowsTheValueInTheUsersLocale) {
  lab->SetFixedSeed(2);
  lab->StartAction->trigger();
  Client().Timer.SetEnabled(false);
  lab->BrainAction->trigger();
  Frames(2);
  const TBrainNode& output = Brain().Layout().Nodes.back();
  ASSERT_TRUE(output.Value);
  const QPointF at = Brain().PictureToCanvas().map(QPointF(output.X, output.Y));
  QLocale::setDefault(QLocale(QLocale::German));
  const QString german = Brain().HoverText(at);
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(german, QString::fromStdString("right impulse: " + BrainValueText(*output.Value)).replace('.', ','));
  EXPECT_EQ(Brain().HoverText(QPointF(1, 1)), "");
}

}  // namespace
}  // namespace zemlix::testing
