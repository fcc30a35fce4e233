// The Update command: image from a list file or the embedded texts, one target streamed
// to the unit played in raw bytes, and every way it can fail.
#include <algorithm>
#include <functional>
#include <ostream>
#include <thread>

#include "image/flash_image.h"
#include "platform/firmware_kind.h"
#include "support/process.h"
#include "updater_fixture.h"

namespace cvm6::test {
namespace {

constexpr std::uint16_t kStart = 0x15, kEnd = 0x17, kWrite = 0x19, kRequestData = 0x1A;

bool Contains(const std::vector<std::uint16_t>& ids, std::uint16_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

class UpdateTest : public UpdaterTest {
 protected:
  // Online with the unit identified as a Corvane M6, events recorded from here on.
  void Online(DeviceScript script = {}, UpdateLimits limits = ShortLimits()) {
    Begin(script, limits);
    dlg->OnConnect();
    ASSERT_EQ(Text(IDC_ONLINE_TEXT), "Online");
    ASSERT_TRUE(Enabled(IDC_UPDATE));
    host->ClearEvents();
  }

  // The window as every failed or refused update leaves it: Close the only button.
  void ExpectOnlyCloseEnabled() {
    EXPECT_TRUE(Enabled(IDC_CLOSE));
    EXPECT_FALSE(Enabled(IDC_UPDATE));
    EXPECT_FALSE(Enabled(IDC_CONNECT));
    EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Online");
    EXPECT_FALSE(host->EndResult().has_value());
    EXPECT_EQ(host->WaitDepth(), 0);
    EXPECT_FALSE(dlg->IsCommandRunning());
  }
  // A refused update: after the device-data request nothing reached the unit, and the
  // connection stays up.
  void ExpectNothingSentAndStillConnected() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(device->Ids(), std::vector<std::uint16_t>{kRequestData});
    EXPECT_FALSE(dlg->EraseRequested());
    EXPECT_TRUE(dlg->Link().IsActive());
    EXPECT_TRUE(dlg->HasPort());
  }

  // While blocks streamed, all three buttons were disabled each time the window ran.
  void ExpectButtonsDisabledWhileRunning() {
    EXPECT_FALSE(host->Pumps().empty());
    for (const auto& pump : host->Pumps()) {
      EXPECT_FALSE(pump.update);
      EXPECT_FALSE(pump.close);
      EXPECT_FALSE(pump.connect);
    }
  }

  // The unit's ids from the first start request on.
  std::vector<std::uint16_t> UpdateIds() {
    auto ids = device->Ids();
    ids.erase(ids.begin(), std::find(ids.begin(), ids.end(), kStart));
    return ids;
  }
};

// The window handles its messages while a command runs, so its handlers can be reached
// mid-download: a device-list selection, Update and Connect change nothing, and the
// unit is erased once.
TEST_F(UpdateTest, TheWindowsHandlersDoNothingWhileTheDownloadRuns) {
  WriteOneRunImage(1000);
  Online();
  bool updateEnabledInside = true;
  host->OnPump([&](int pump) {
    if (pump != 2) return;
    host->UserSelects(IDC_DEVICE_LIST, 1);
    dlg->OnSelchangeDevice();
    updateEnabledInside = Enabled(IDC_UPDATE);
    dlg->OnUpdate();
    dlg->OnConnect();
  });
  dlg->OnUpdate();
  EXPECT_FALSE(updateEnabledInside);
  const auto ids = device->Ids();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), kStart), 1);
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, kUpdateComplete);
  EXPECT_EQ(device->Blocks().size(), 5u);
  ExpectButtonsDisabledWhileRunning();
}

TEST_F(UpdateTest, OneRunOf1000BytesGoesOutInFiveBlocks) {
  WriteOneRunImage(1000, 0x2000);
  Online();
  dlg->OnUpdate();

  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, kUpdateComplete);
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::None);
  EXPECT_EQ(host->Boxes()[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(host->EndResult(), std::optional<int>(IDOK));
  EXPECT_EQ(dlg->Result(), UpdateResult::kDone);
  EXPECT_EQ(Text(IDC_STATUS), "Update Complete");
  EXPECT_EQ(host->Texts(IDC_STATUS), (std::vector<std::string>{"fw.hex 0X02000", "Erasing Digital Board Memory.",
                                                              "Updating Digital Board.", "Update Complete"}));
  EXPECT_TRUE(Enabled(IDC_CLOSE));
  EXPECT_EQ(host->WaitDepth(), 0);
  ExpectButtonsDisabledWhileRunning();

  // On the wire: start for target 0, five blocks numbered 0..4, end; all to the unit.
  const auto frames = device->Frames();
  std::vector<WireUnit> update(frames.begin() + 1, frames.end());  // after the device data request
  ASSERT_EQ(update.size(), 7u);
  for (const auto& frame : update) {
    EXPECT_EQ(frame.dest, 5);
    EXPECT_EQ(frame.src, 1);
    EXPECT_TRUE(frame.ackWanted);
  }
  EXPECT_EQ(update.front().payload, (Bytes{0x15, 0x00, 0x00}));
  EXPECT_EQ(update.back().payload, (Bytes{0x17, 0x00}));
  const auto blocks = device->Blocks();
  ASSERT_EQ(blocks.size(), 5u);
  const std::uint32_t sizes[] = {246, 246, 246, 246, 16};
  std::uint32_t address = 0x2000;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i].sequence, i);
    EXPECT_EQ(blocks[i].address, address);
    EXPECT_EQ(blocks[i].data.size(), sizes[i]);
    address += sizes[i];
  }
  const auto flash = device->Flash();
  ASSERT_EQ(flash.size(), 1000u);
  for (std::uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(flash.at(0x2000 + i), ImageByte(i)) << i;

  // Progress: block bar 0..79 stepping 19, 39, 58, 78, 79; total bar 0..159 ending at 79.
  EXPECT_EQ(host->Positions(IDC_BLOCK_PROGRESS), (std::vector<int>{0, 19, 39, 58, 78, 79}));
  EXPECT_EQ(host->Control(IDC_BLOCK_PROGRESS).upper, 79);
  EXPECT_EQ(host->Positions(IDC_TOTAL_PROGRESS), (std::vector<int>{0, 19, 39, 58, 78, 79}));
  EXPECT_EQ(host->Control(IDC_TOTAL_PROGRESS).upper, 159);
  EXPECT_EQ(dlg->BlockCount(), 0);  // cleared when the target completed

  // The dialog ends; its destruction stops the link and lets the port go.
  dlg->OnDestroy();
  EXPECT_FALSE(dlg->Link().IsStarted());
  EXPECT_FALSE(dlg->HasPort());
}

// Runs that do not fill whole blocks: 246 is one block, 247 a block of 246 and one of 1.
TEST_F(UpdateTest, BlockBoundariesFollowTheRuns) {
  // Two runs, 247 bytes at 0x100 and 246 at 0x400, in two hex files.
  auto hex = [](std::uint16_t count) {
    std::string out;
    for (std::uint16_t offset = 0; offset < count; offset += 16) {
      std::string data;
      for (std::uint16_t i = offset; i < count && i < offset + 16; ++i) data += static_cast<char>(i);
      out += HexRecord(offset, 0, data);
    }
    return out + kEndRecord;
  };
  cwd.Write("a.hex", hex(247));
  cwd.Write("b.hex", hex(246));
  cwd.Write("cvm6.ini", "a.hex 100\nb.hex 400\n");
  Online();
  dlg->OnUpdate();
  EXPECT_EQ(host->EndResult(), std::optional<int>(IDOK));
  const auto blocks = device->Blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].address, 0x100u);
  EXPECT_EQ(blocks[0].data.size(), 246u);
  EXPECT_EQ(blocks[1].address, 0x100u + 246);
  EXPECT_EQ(blocks[1].data, Bytes{246});
  EXPECT_EQ(blocks[2].address, 0x400u);
  EXPECT_EQ(blocks[2].data.size(), 246u);
  EXPECT_EQ(host->Positions(IDC_BLOCK_PROGRESS).back(), 79);
}

// Every row of the failure table after the unit was identified as a Corvane M6.
struct FailureRow {
  const char* name;
  void (*script)(DeviceScript&);
  const char* text;
  std::size_t blocks;        // write requests the unit saw
  bool endSent;              // whether the end request went out
  int minMs;                 // the wait that had to run out, if any
};

void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.name; }

class UpdateFailure : public UpdateTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(UpdateFailure, ShowsItsTextStopsTheLinkAndLeavesOnlyClose) {
  const FailureRow& row = GetParam();
  WriteOneRunImage(1000);
  DeviceScript script;
  row.script(script);
  Online(script);
  const auto start = Clock::now();
  dlg->OnUpdate();

  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, row.text);
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Stop);
  EXPECT_EQ(host->Boxes()[0].buttons, MsgButtons::Ok);
  const int ms = MsSince(start, host->Boxes()[0].when);
  EXPECT_GE(ms, row.minMs);
  EXPECT_LT(ms, row.minMs + Scaled(2000));
  ExpectOnlyCloseEnabled();
  EXPECT_FALSE(dlg->Link().IsStarted());
  EXPECT_FALSE(dlg->HasPort());
  EXPECT_TRUE(dlg->EraseRequested());
  EXPECT_EQ(dlg->Result(), UpdateResult::kDownloadFailed);

  // Nothing is retried and nothing follows the failure.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto ids = UpdateIds();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), kStart), 1);
  EXPECT_EQ(device->Blocks().size(), row.blocks);
  EXPECT_EQ(Contains(ids, kEnd), row.endSent);
  EXPECT_EQ(ids.size(), 1 + row.blocks + (row.endSent ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Update, UpdateFailure,
    ::testing::Values(
        FailureRow{"NoStartReply", [](DeviceScript& s) { s.answerStart = false; }, "Error Starting Download.", 0,
                   false, 990},
        FailureRow{"StartEchoesAnotherTarget", [](DeviceScript& s) { s.startEchoDelta = 1; },
                   "Error Starting Download.", 0, false, 0},
        FailureRow{"AckWithAnotherSequence", [](DeviceScript& s) { s.wrongSequenceAtBlock = 2; },
                   "Error Sending Data.", 3, false, 0},
        FailureRow{"NoAck", [](DeviceScript& s) { s.silentFromBlock = 1; }, "Error Sending Data.", 2, false, 990},
        FailureRow{"NoEndReply", [](DeviceScript& s) { s.answerEnd = false; }, "Error Ending Download.", 5, true,
                   990},
        FailureRow{"CountOneShort", [](DeviceScript& s) { s.endCountDelta = -1; }, "Block Transfer Error.", 5,
                   true, 0},
        FailureRow{"CountOneOver", [](DeviceScript& s) { s.endCountDelta = 1; }, "Block Transfer Error.", 5, true,
                   0}),
    [](const auto& param) { return std::string(param.param.name); });

// The link goes down right after an acknowledgement and the unit is heard no more: the
// next write is refused while the download waits for the link, and the download ends
// when the grace time (1 s here) runs out, not after the write limit.
TEST_F(UpdateTest, ALinkThatDoesNotComeBackEndsTheDownloadAfterTheGraceTime) {
  WriteOneRunImage(1000);
  DeviceScript script;
  script.dropLinkAfterBlocks = 2;
  Online(script, UpdateLimits{500, 60000, 60000, 1000, 1000});
  // Before the third block, let the link see the bad control byte first.
  host->OnPump([&](int pump) {
    if (pump != 2) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(2000));
    while (dlg->Link().IsActive() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  const auto start = Clock::now();
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "Error Sending Data.");
  EXPECT_GE(MsSince(start, host->Boxes()[0].when), 950);
  EXPECT_LT(MsSince(start, host->Boxes()[0].when), 1000 + Scaled(2000));
  EXPECT_EQ(device->Blocks().size(), 2u);
  EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Offline");  // as the link left it
  EXPECT_TRUE(Enabled(IDC_CLOSE));
  EXPECT_FALSE(Enabled(IDC_UPDATE));
  EXPECT_FALSE(Enabled(IDC_CONNECT));
  EXPECT_FALSE(dlg->Link().IsStarted());
  EXPECT_FALSE(dlg->HasPort());
}

// The reply to block 2 is swallowed by damage that also takes our link down; the unit's
// own link stays up. Our wake brings the link back, one 0xDA has the unit send the reply
// again, and the download goes on: every block arrives once, in order, and the window
// showed the link going and coming.
TEST_F(UpdateTest, ALinkThatDropsMidDownloadIsRiddenThrough) {
  class Recording : public CUpdaterDlg {
   public:
    using CUpdaterDlg::CUpdaterDlg;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> rides;
    void OnRideThrough(WaitStage, std::uint16_t block, std::uint32_t ms) override { rides.emplace_back(block, ms); }
  };
  WriteOneRunImage(1000);
  DeviceScript script;
  script.stayUpOnWake = true;
  script.garbleReplyOfBlock = 2;
  Begin(script, ShortLimits());
  auto* recording = new Recording(ShortLimits());
  dlg.reset(recording);
  dlg->AttachHost(host.get());
  dlg->OnInitDialog();
  dlg->OnConnect();
  ASSERT_TRUE(Enabled(IDC_UPDATE));
  dlg->OnUpdate();
  EXPECT_EQ(dlg->Result(), UpdateResult::kDone);
  EXPECT_EQ(host->Boxes().back().text, kUpdateComplete);
  const auto blocks = device->Blocks();
  ASSERT_EQ(blocks.size(), 5u);
  for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].sequence, i);
  EXPECT_EQ(device->Flash().size(), 1000u);
  EXPECT_EQ(device->NaksReceived(), 1);
  ASSERT_EQ(recording->rides.size(), 1u);
  EXPECT_EQ(recording->rides[0].first, 2);
  EXPECT_LT(recording->rides[0].second, static_cast<std::uint32_t>(Scaled(1000)));
  EXPECT_EQ(host->Texts(IDC_ONLINE_TEXT), (std::vector<std::string>{"Offline", "Online", "Offline", "Online"}));
}

// The ride-through reaches every wait of an update. The unit's link stays up; the reply
// it sends at one stage is lost in damage that also takes our link down. Our wake brings
// the link back and one 0xDA has the unit send the reply again; a reply the unit lost for
// good is asked for once more (the start request too: the unit then erases twice). And an
// announcement while the unit erases: numbered on from the unit's last frame, it is the
// same unit, whose link went down and came back; numbered from 1, the unit started afresh.
class RideRecorder : public CUpdaterDlg {
 public:
  using CUpdaterDlg::CUpdaterDlg;
  std::vector<WaitStage> rides, askedAgain;
  void OnRideThrough(WaitStage stage, std::uint16_t, std::uint32_t) override { rides.push_back(stage); }
  void OnAskedAgain(WaitStage stage) override { askedAgain.push_back(stage); }
};

using Stage = CUpdaterDlg::WaitStage;
struct RideRow {
  const char* name;
  std::uint16_t request;  // whose reply is lost
  bool lost;              // for good
  DeviceScript::AtStart atStart;
  std::vector<Stage> rides;
  int startRequests;
  bool done;
};
class RideThroughAtEveryWait : public UpdateTest, public ::testing::WithParamInterface<RideRow> {};

TEST_P(RideThroughAtEveryWait, AndTheUpdateCompletes) {
  const RideRow& row = GetParam();
  WriteOneRunImage(1000);
  DeviceScript script;
  script.stayUpOnWake = true;
  script.garbleReplyOfRequest = row.request;
  script.loseGarbledReply = row.lost;
  script.atStart = row.atStart;
  UpdateLimits limits{2000, 5000, 5000, 1000, 3000};
  limits.replyAgainMs = 300;
  Begin(script, limits);
  auto* recorder = new RideRecorder(limits);
  dlg.reset(recorder);
  dlg->AttachHost(host.get());
  dlg->OnInitDialog();
  host->UserSelects(IDC_DEVICE_LIST, 1);
  dlg->OnConnect();
  dlg->OnUpdate();
  ASSERT_FALSE(host->Boxes().empty());
  EXPECT_EQ(host->Boxes().back().text, row.done ? kUpdateComplete : "Error Starting Download.");
  EXPECT_EQ(device->Flash().size(), row.done ? 1000u : 0u);
  EXPECT_EQ(device->StartRequests(), row.startRequests);
  EXPECT_EQ(recorder->rides, row.rides);
  EXPECT_EQ(recorder->askedAgain, row.lost ? row.rides : std::vector<Stage>{});
}

constexpr auto kNone = DeviceScript::AtStart::kNothing;
INSTANTIATE_TEST_SUITE_P(
    Replies, RideThroughAtEveryWait,
    ::testing::Values(RideRow{"DeviceData", 0x1A, false, kNone, {Stage::kDeviceData}, 1, true},
                      RideRow{"Start", 0x15, false, kNone, {Stage::kStart}, 1, true},
                      RideRow{"End", 0x17, false, kNone, {Stage::kEnd}, 1, true},
                      RideRow{"StartLostForGood", 0x15, true, kNone, {Stage::kStart}, 2, true},
                      RideRow{"EndLostForGood", 0x17, true, kNone, {Stage::kEnd}, 1, true},
                      RideRow{"AnnouncedWhileErasing", 0, false, DeviceScript::AtStart::kAnnouncesNumberingOn, {}, 1,
                              true},
                      RideRow{"RestartedWhileErasing", 0, false, DeviceScript::AtStart::kAnnouncesFromOne, {}, 1,
                              false}),
    [](const auto& row) { return std::string(row.param.name); });

// What the line did is counted per update. Frames the unit refused as damaged make the
// completion prompt followed by the warning; frames that only came back damaged do not.
struct LineDamageRow {
  const char* name;
  std::vector<int> refused;
  int damagedReply;
  std::uint32_t toUnit, fromUnit;
};
class LineDamageCounted : public UpdateTest, public ::testing::WithParamInterface<LineDamageRow> {};

TEST_P(LineDamageCounted, AndRefusedFramesAreWarnedOf) {
  const LineDamageRow& row = GetParam();
  WriteOneRunImage(1000);  // 5 blocks
  DeviceScript script;
  script.refuseFirstCopyOfBlocks = row.refused;
  script.damageReplyOfBlock = row.damagedReply;
  Online(script, ShortLimits());
  dlg->OnUpdate();
  EXPECT_EQ(dlg->Result(), UpdateResult::kDone);
  EXPECT_EQ(device->Flash().size(), 1000u);
  const LineDamage& damage = dlg->LastLineDamage();
  EXPECT_EQ(damage.toUnit, row.toUnit);
  EXPECT_EQ(damage.fromUnit, row.fromUnit);
  EXPECT_EQ(damage.framesSent, 7u + row.toUnit);  // start, 5 blocks, end, and each resend
  const auto& boxes = host->Boxes();
  ASSERT_EQ(boxes.size(), row.toUnit != 0 ? 2u : 1u);
  EXPECT_EQ(boxes[0].text, kUpdateComplete);
  if (row.toUnit == 0) return;
  EXPECT_EQ(boxes[1].icon, MsgIcon::Warning);
  EXPECT_EQ(boxes[1].text.rfind("2 frames reached the unit damaged during this update and were sent again. ", 0), 0u)
      << boxes[1].text;
}

INSTANTIATE_TEST_SUITE_P(Lines, LineDamageCounted,
                         ::testing::Values(LineDamageRow{"Clean", {}, -1, 0, 0}, LineDamageRow{"TwoBlocksRefused", {1, 3}, -1, 2, 0},
                                           LineDamageRow{"AReplyDamagedOnItsWayBack", {}, 2, 0, 1}),
                         [](const auto& row) { return std::string(row.param.name); });

// The same damage, but the unit's link went down too: it announces itself when its link
// comes back, and an announcement while riding through ends the download.
TEST_F(UpdateTest, AnAnnouncementWhileRidingThroughEndsTheDownload) {
  WriteOneRunImage(1000);
  DeviceScript script;
  script.garbleReplyOfBlock = 2;
  Online(script, UpdateLimits{500, 60000, 60000, 1000, 10000});
  const auto start = Clock::now();
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "Error Sending Data.");
  EXPECT_LT(MsSince(start, host->Boxes()[0].when), Scaled(3000));
  EXPECT_EQ(device->Blocks().size(), 3u);
  EXPECT_FALSE(Contains(device->Ids(), kEnd));
}

// The unit loses power mid-download and starts afresh: it numbers its frames from 1
// again and announces itself with the same frame that began the session (its replies
// ask for no acknowledgement, so that announcement was the last frame we accepted with
// a number). It is no repeat: the download ends there instead of writing the rest of the
// image into a unit that was never erased for it.
TEST_F(UpdateTest, AUnitThatRestartsMidDownloadEndsTheDownload) {
  WriteOneRunImage(3000);  // 13 blocks
  DeviceScript script;
  script.restartAfterBlocks = 3;
  Online(script, UpdateLimits{500, 60000, 60000, 1000, 10000});
  dlg->OnUpdate();
  ASSERT_TRUE(device->Restarted());
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "Error Sending Data.");
  EXPECT_EQ(dlg->Result(), UpdateResult::kDownloadFailed);
  EXPECT_LT(device->Blocks().size(), 13u);
  EXPECT_FALSE(Contains(device->Ids(), kEnd));
}

// The adapter is pulled out while blocks stream: the failure shows within 2 s although
// the write limit is the full 100 s.
TEST_F(UpdateTest, UnpluggedAdapterEndsTheDownloadWithinTwoSeconds) {
  WriteOneRunImage(1000);
  DeviceScript script;
  script.unplugAfterBlocks = 2;
  Online(script, UpdateLimits{});
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "Error Sending Data.");
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Stop);
  const auto unplugged = device->UnplugTime();
  ASSERT_TRUE(unplugged.has_value());
  EXPECT_LT(MsSince(*unplugged, host->Boxes()[0].when), 2000 * TimeScale());
  ExpectOnlyCloseEnabled();
  EXPECT_FALSE(dlg->Link().IsStarted());
  EXPECT_FALSE(dlg->HasPort());
}

// The end reply was taken (and acknowledged) and the adapter pulled at that moment: the
// unit has every block and said so, so the update is complete, whether the updater's
// thread comes to the reply before or after its link has seen the port go (on a loaded
// machine, after: it then failed with "Error Ending Download.").
TEST_F(UpdateTest, AnEndReplyTakenJustBeforeThePortWentCompletesTheUpdate) {
  WriteOneRunImage(1000);
  DeviceScript script;
  script.unplugOnEndReplyAck = true;
  Online(script, UpdateLimits{});
  dlg->OnUpdate();
  ASSERT_FALSE(host->Boxes().empty());
  EXPECT_EQ(host->Boxes()[0].text, kUpdateComplete);
  EXPECT_EQ(dlg->Result(), UpdateResult::kDone);
}

TEST_F(UpdateTest, WrongDeviceTypeIsRefusedWithNothingSent) {
  DeviceScript script;
  script.deviceType = 0x41;
  Begin(script, ShortLimits());
  dlg->OnConnect();
  ASSERT_EQ(host->Control(IDC_DEVICE_LIST).selection, 0);
  // The user picks the device the list offers.
  host->UserSelects(IDC_DEVICE_LIST, 1);
  dlg->OnSelchangeDevice();
  ASSERT_TRUE(Enabled(IDC_UPDATE));
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, kWrongDevice);
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Stop);
  EXPECT_EQ(dlg->Result(), UpdateResult::kWrongDevice);
  ExpectOnlyCloseEnabled();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(device->Ids(), std::vector<std::uint16_t>{kRequestData});
  // The link and the port stay until the window closes.
  EXPECT_TRUE(dlg->Link().IsStarted());
  EXPECT_TRUE(dlg->HasPort());
  EXPECT_FALSE(dlg->EraseRequested());
}

TEST_F(UpdateTest, DeviceChoiceZeroSendsNothing) {
  DeviceScript script;
  script.deviceType = 0x41;  // leaves the choice at 0 but enables Update
  Begin(script, ShortLimits());
  dlg->OnConnect();
  ASSERT_TRUE(Enabled(IDC_UPDATE));
  dlg->OnUpdate();
  EXPECT_TRUE(host->Boxes().empty());
  EXPECT_EQ(dlg->Result(), UpdateResult::kCancelled);
  EXPECT_TRUE(Enabled(IDC_CLOSE));
  EXPECT_FALSE(Enabled(IDC_UPDATE));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(device->Ids(), std::vector<std::uint16_t>{kRequestData});
  EXPECT_TRUE(dlg->Link().IsStarted());
}

// A list file that names nothing: no erase, a clear message, the link left running.
TEST_F(UpdateTest, EmptyImageSendsNothingAndSaysSo) {
  cwd.Write("cvm6.ini", "");
  Online();
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, CUpdaterDlg::kNoImageText);
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Stop);
  EXPECT_EQ(dlg->Result(), UpdateResult::kNoImage);
  ExpectOnlyCloseEnabled();
  ExpectNothingSentAndStillConnected();
}

// The unit repeats its device data while the update runs: Update must stay disabled
// throughout, so no second download can start inside the first.
TEST_F(UpdateTest, DeviceDataDuringTheUpdateDoesNotEnableUpdate) {
  WriteOneRunImage(1000);
  DeviceScript script;
  script.deviceDataDuringUpdate = true;
  Online(script);
  dlg->OnUpdate();
  EXPECT_EQ(host->EndResult(), std::optional<int>(IDOK));
  EXPECT_FALSE(host->EverEnabled(IDC_UPDATE, true));
  ExpectButtonsDisabledWhileRunning();
}

// Flash replies from an address that is not the unit's are ignored: the start wait runs
// out although a start reply came.
TEST_F(UpdateTest, StartReplyFromAnotherAddressIsIgnored) {
  WriteOneRunImage(1000);
  DeviceScript script;
  script.flashReplySource = 6;
  Online(script);
  const auto start = Clock::now();
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "Error Starting Download.");
  EXPECT_GE(MsSince(start, host->Boxes()[0].when), 990);
  EXPECT_TRUE(device->Blocks().empty());
}

// The whole embedded image, as a unit would receive it: 2783 blocks numbered 0..2782,
// the unit's flash identical to the image. A build with the synthetic image asks first.
TEST_F(UpdateTest, EmbeddedImageArrivesWhole) {
  Online({}, UpdateLimits{500, 60000, 60000});
  dlg->OnUpdate();

  const bool synthetic = res::IsSyntheticFirmware();
  ASSERT_EQ(host->Boxes().size(), synthetic ? 2u : 1u);
  if (synthetic) {
    EXPECT_EQ(host->Boxes()[0].text, CUpdaterDlg::kSyntheticImageQuestion);
    EXPECT_EQ(host->Boxes()[0].buttons, MsgButtons::YesNo);
  }
  EXPECT_EQ(host->Boxes().back().text, kUpdateComplete);
  EXPECT_EQ(host->EndResult(), std::optional<int>(IDOK));
  EXPECT_EQ(host->Texts(IDC_STATUS).front(), "Loading program files");

  const auto blocks = device->Blocks();
  ASSERT_EQ(blocks.size(), 2783u);
  for (std::size_t i = 0; i < blocks.size(); ++i) ASSERT_EQ(blocks[i].sequence, i);
  const std::pair<std::uint32_t, std::size_t> first[] = {{0x02000, 22}, {0x0201B, 3}, {0x02023, 3}, {0x0202B, 246}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(blocks[i].address, first[i].first);
    EXPECT_EQ(blocks[i].data.size(), first[i].second);
  }
  CFlashImage image;
  image.LoadFirmwareImage({});
  ASSERT_EQ(image.GetCount(), 617256u);
  EXPECT_TRUE(device->Flash() == StoredBytes(image));

  const auto block = host->Positions(IDC_BLOCK_PROGRESS);
  EXPECT_TRUE(std::is_sorted(block.begin(), block.end()));
  EXPECT_EQ(block.back(), 79);
  EXPECT_EQ(host->Control(IDC_TOTAL_PROGRESS).pos, 79);
  EXPECT_EQ(host->Control(IDC_TOTAL_PROGRESS).upper, 159);
}

// Saying No to the synthetic image leaves the window as after a refused update.
TEST_F(UpdateTest, RefusedSyntheticImageSendsNothing) {
  if (!res::IsSyntheticFirmware()) GTEST_SKIP() << "this build carries released firmware";
  Online();
  host->AnswerNext(IDNO);
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, CUpdaterDlg::kSyntheticImageQuestion);
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Question);
  EXPECT_EQ(dlg->Result(), UpdateResult::kCancelled);
  ExpectOnlyCloseEnabled();
  ExpectNothingSentAndStillConnected();
}

// An interrupt that comes after the image loaded but before the erase request went out
// (here: as the erasing text is shown) leaves the unit untouched.
TEST_F(UpdateTest, AnInterruptJustBeforeTheEraseSendsNoEraseRequest) {
  struct Stop {};
  class Interruptible : public CUpdaterDlg {
   public:
    using CUpdaterDlg::CUpdaterDlg;
    bool interrupted = false;
    void CheckInterrupt() override {
      if (interrupted) throw Stop{};
    }
  };
  WriteOneRunImage(1000);
  Begin({}, ShortLimits());
  auto* interruptible = new Interruptible(ShortLimits());
  dlg.reset(interruptible);
  dlg->AttachHost(host.get());
  dlg->OnInitDialog();
  dlg->OnConnect();
  ASSERT_TRUE(Enabled(IDC_UPDATE));
  host->OnText([&](int id, const std::string& text) {
    if (id == IDC_STATUS && text == ErasingText(0)) interruptible->interrupted = true;
  });
  EXPECT_THROW(dlg->OnUpdate(), Stop);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(Contains(device->Ids(), kStart));
  EXPECT_FALSE(dlg->EraseRequested());
}

// The unit is gone by the time the start request is made: the node refuses it while the
// dropped link is ridden through, and once the grace time has run out the update fails
// instead of waiting out the start limit for a reply that cannot come; the flash was not
// touched, so the erase is not claimed.
TEST_F(UpdateTest, AStartRequestRefusedUntilTheGraceTimeEndsFailsWithoutAnErase) {
  WriteOneRunImage(1000);
  Online({}, UpdateLimits{500, 60000, 60000, 1000, 1000});
  // As the erasing text shows, the unit falls silent and a bad control byte takes the
  // link down; the port itself stays fine.
  host->OnText([&](int id, const std::string& text) {
    if (id != IDC_STATUS || text != ErasingText(0)) return;
    device->Stop();
    pty.Write(Bytes{0x80});
    const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(3000));
    while (dlg->Link().IsActive() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    dlg->Poll(0);
  });
  const auto start = Clock::now();
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "Error Starting Download.");
  EXPECT_GE(MsSince(start, host->Boxes()[0].when), 950);
  EXPECT_LT(MsSince(start, host->Boxes()[0].when), 1000 + Scaled(3000));
  EXPECT_FALSE(dlg->EraseRequested());
  EXPECT_EQ(dlg->Result(), UpdateResult::kDownloadFailed);
}

// An image at both ends of the address space: the pass sends the block at address 0 and
// the one that ends at 0xFFFFFFFF, and ends there; no block wraps into address 0.
TEST_F(UpdateTest, ABlockPassOverBothEndsOfTheAddressSpaceEndsAtTheTop) {
  class Pass : public CUpdaterDlg {
   public:
    using CUpdaterDlg::CUpdaterDlg;
    using CUpdaterDlg::SendBlocks;
  };
  DeviceScript script;
  script.silentFromBlock = 3;  // a pass that starts over runs into silence, not forever
  Begin(script, ShortLimits());
  auto* pass = new Pass(ShortLimits());
  dlg.reset(pass);
  dlg->AttachHost(host.get());
  dlg->OnInitDialog();
  dlg->OnConnect();
  ASSERT_EQ(Text(IDC_ONLINE_TEXT), "Online");
  CFlashImage image;
  for (std::uint32_t i = 0; i < 16; ++i) {
    image.SetByte(i, static_cast<std::uint8_t>(i));
    image.SetByte(0xFFFFFFF0u + i, static_cast<std::uint8_t>(0xF0 + i));
  }
  EXPECT_TRUE(pass->SendBlocks(image));
  const auto blocks = device->Blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].address, 0u);
  EXPECT_EQ(blocks[0].data.size(), 16u);
  EXPECT_EQ(blocks[1].address, 0xFFFFFFF0u);
  EXPECT_EQ(blocks[1].data.size(), 16u);
}

// A firmware text that cannot be read whole is never written: the update is refused
// before the erase, with every faulty text named, and the window stays as it was, so
// Update can go again once the files are put right.
struct DamageRow {
  const char* name;
  void (*write)(ScratchDir& cwd, ScratchDir& drive);
  const char* faults;  // the lines between the heading and "Nothing was written..."
};

void PrintTo(const DamageRow& row, std::ostream* out) { *out << row.name; }

std::string GoodText(std::uint16_t offset = 0x100) { return HexRecord(offset, 0, "good") + kEndRecord; }

void WriteBanksOnY(ScratchDir& drive) {
  for (int n = 1; n <= 14; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "CVM6/cvm6.H%02d", n);
    drive.Write(name, GoodText());
  }
}

class DamagedImage : public UpdateTest, public ::testing::WithParamInterface<DamageRow> {};

TEST_P(DamagedImage, IsRefusedBeforeTheErase) {
  if (std::string(GetParam().faults).find("Y:\\") != std::string::npos && !DrivesFollowTheEnvironment())
    GTEST_SKIP() << "drive Y: is the system's own here";
  GetParam().write(cwd, drive);
  Online();
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, std::string("The firmware image is damaged or incomplete:\n") + GetParam().faults +
                                       "Nothing was written to the device.");
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Stop);
  EXPECT_EQ(dlg->Result(), UpdateResult::kImageRefused);
  EXPECT_TRUE(Enabled(IDC_UPDATE));
  EXPECT_TRUE(Enabled(IDC_CLOSE));
  EXPECT_FALSE(Enabled(IDC_CONNECT));
  EXPECT_FALSE(dlg->IsCommandRunning());
  ExpectNothingSentAndStillConnected();
}

INSTANTIATE_TEST_SUITE_P(
    Update, DamagedImage,
    ::testing::Values(
        DamageRow{"BadChecksumMidText",
                  [](ScratchDir& cwd, ScratchDir&) {
                    cwd.Write("fw.hex", HexRecord(0x100, 0, "one") + ":03010300747771FF\r\n" +
                                            HexRecord(0x106, 0, "three") + kEndRecord);
                    cwd.Write("cvm6.ini", "fw.hex 0\n");
                  },
                  "fw.hex, line 2: wrong checksum\n"},
        DamageRow{"ColonInsideANote",
                  [](ScratchDir& cwd, ScratchDir&) {
                    cwd.Write("fw.hex", HexRecord(0x100, 0, "one") + "built by: the tool chain\r\n" + kEndRecord);
                    cwd.Write("cvm6.ini", "fw.hex 0\n");
                  },
                  "fw.hex, line 2: a character that is not a hexadecimal digit\n"},
        DamageRow{"RecordCutByALineEnd",
                  [](ScratchDir& cwd, ScratchDir&) {
                    cwd.Write("fw.hex", HexRecord(0x100, 0, "one") + "\r\n:0301030074\r\n7771FF\r\n" + kEndRecord);
                    cwd.Write("cvm6.ini", "fw.hex 0\n");
                  },
                  "fw.hex, line 3: a record cut short by a line end\n"},
        DamageRow{"NoEndRecord",
                  [](ScratchDir& cwd, ScratchDir&) {
                    cwd.Write("fw.hex", HexRecord(0x100, 0, "one"));
                    cwd.Write("cvm6.ini", "fw.hex 0\n");
                  },
                  "fw.hex, no end-of-file record\n"},
        DamageRow{"ListEntryNamesAMissingFile",
                  [](ScratchDir& cwd, ScratchDir&) {
                    cwd.Write("fw.hex", GoodText());
                    cwd.Write("cvm6.ini", "fw.hex 0\nmissing.hex 10000\n");
                  },
                  "missing.hex, cannot be opened\n"},
        DamageRow{"EveryMissingEntryIsNamed",
                  [](ScratchDir& cwd, ScratchDir&) {
                    cwd.Write("fw.hex", GoodText());
                    cwd.Write("cvm6.ini", "gone1.hex 0\nfw.hex 10000\ngone2.hex 20000\n");
                  },
                  "gone1.hex, cannot be opened\ngone2.hex, cannot be opened\n"},
        DamageRow{"ListLineWithABaseThatIsNoNumber",
                  [](ScratchDir& cwd, ScratchDir&) {
                    cwd.Write("fw.hex", GoodText());
                    cwd.Write("cvm6.ini", "fw.hex 0\nb.hex 1O000\n");
                  },
                  "cvm6.ini, line 2: the base of \"b.hex 1O000\" is not a hexadecimal number\n"},
        DamageRow{"FirstFileOnYWithoutEndRecord",
                  [](ScratchDir&, ScratchDir& drive) {
                    WriteBanksOnY(drive);
                    drive.Write("CVM6/cvm6.H01", HexRecord(0x100, 0, "old"));
                  },
                  "Y:\\CVM6\\cvm6.H01, no end-of-file record\n"},
        DamageRow{"SeventhFileOnYMissing",
                  [](ScratchDir&, ScratchDir& drive) {
                    WriteBanksOnY(drive);
                    std::filesystem::remove(drive.path() / "CVM6/cvm6.H07");
                  },
                  "Y:\\CVM6\\cvm6.H07, cannot be opened\n"}),
    [](const auto& param) { return std::string(param.param.name); });

// The described good forms still load and are written whole, and only data bytes reach
// the unit: a list file whose second entry ends the list; a start address (type 5) and an
// upper address of 0 (type 4), which put nothing at address 0 of the bank; an end record
// with data; text after the end record; lower-case digits; LF-only lines.
TEST_F(UpdateTest, OnlyTheDataBytesOfTheDescribedGoodFormsReachTheUnit) {
  cwd.Write("a.hex", HexRecord(0, 5, "\x00\x00\x20\x00") + HexRecord(0, 4, std::string(2, '\0')) +
                         ":0300300002337a1e\n:02010001BEEF4F\nnot read: zz\n");
  cwd.Write("cvm6.ini", "a.hex 10000\nb.hex 100000\n");
  Online();
  dlg->OnUpdate();
  EXPECT_EQ(dlg->Result(), UpdateResult::kDone);
  const std::map<std::uint32_t, std::uint8_t> expected{
      {0x10030, 0x02}, {0x10031, 0x33}, {0x10032, 0x7A}, {0x10100, 0xBE}, {0x10101, 0xEF}};
  EXPECT_EQ(device->Flash(), expected);
}

// A text that would need an address record to place it is refused like a damaged one.
TEST_F(UpdateTest, ATextThatCannotBePlacedIsRefusedBeforeTheErase) {
  cwd.Write("a.hex", ":0300300002337A1E\r\n" + HexRecord(0, 4, "\x00\x01") + kEndRecord);
  cwd.Write("cvm6.ini", "a.hex 0\n");
  Online();
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "The firmware image is damaged or incomplete:\n"
                                   "a.hex, line 2: a record of type 4 that this updater cannot place\n"
                                   "Nothing was written to the device.");
  EXPECT_EQ(dlg->Result(), UpdateResult::kImageRefused);
  ExpectNothingSentAndStillConnected();
}

// After Connect the link goes down and comes back, and the unit that now answers at the
// unit's address (the cable moved to another one) is of another type: Update asks again
// and refuses with the wrong-device prompt, erasing nothing.
class UnitReplaced : public UpdateTest {
 protected:
  // Takes the first unit away, drops the updater's link with a bad control byte, and
  // puts `next` on the line; returns once the updater's link is up with it again. The
  // next unit numbers its frames on from 7: one that began at 1 again would have its
  // announcement taken for a repeat of the first unit's, which was numbered 1 too.
  void Replace(DeviceScript next) {
    next.firstTxSequence = 7;
    device->Stop();
    pty.Write(Bytes{0x80});
    ASSERT_TRUE(WaitFor([&] { return !dlg->Link().IsActive(); }));
    device = std::make_unique<RawDevice>(pty, next);
    device->Start();
    // Up, and its announcement taken by the updater's link (on the updater's queue).
    ASSERT_TRUE(WaitFor([&] { return dlg->Link().IsActive() && device->LinkUp() && device->AcksReceived() > 0; }));
  }
  static bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(Scaled(3000));
    while (!condition() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return condition();
  }
};

TEST_F(UnitReplaced, ByAnotherTypeIsAskedAgainAndRefusedWithNothingErased) {
  WriteOneRunImage(1000);
  Online();
  DeviceScript other;
  other.deviceType = 0x41;
  Replace(other);
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, kWrongDevice);
  EXPECT_EQ(dlg->Result(), UpdateResult::kWrongDevice);
  EXPECT_EQ(device->Ids(), std::vector<std::uint16_t>{kRequestData});
  EXPECT_FALSE(dlg->EraseRequested());
}

TEST_F(UnitReplaced, ByAnM6IsAskedAgainAndWritten) {
  WriteOneRunImage(1000);
  Online();
  Replace({});
  dlg->OnUpdate();
  EXPECT_EQ(dlg->Result(), UpdateResult::kDone);
  const auto ids = device->Ids();
  ASSERT_GE(ids.size(), 2u);
  EXPECT_EQ(ids[0], kRequestData);  // asked before the erase
  EXPECT_EQ(ids[1], kStart);
}

// Announcements while blocks stream: one the node refuses (no acknowledgement wanted) is
// dropped and the download goes on; a proper one means the unit started afresh or is
// another: the download ends with its failure text and nothing more is sent.
TEST_F(UpdateTest, AMalformedAnnouncementDuringTheDownloadIsDropped) {
  WriteOneRunImage(1000);
  DeviceScript script;
  script.malformedAnnouncementAtBlock = 1;
  Online(script);
  dlg->OnUpdate();
  EXPECT_EQ(dlg->Result(), UpdateResult::kDone);
  EXPECT_EQ(device->Blocks().size(), 5u);
}

TEST_F(UpdateTest, AnAnnouncementDuringTheDownloadEndsIt) {
  WriteOneRunImage(1000);
  DeviceScript script;
  script.announceAgainAtBlock = 1;
  Online(script, UpdateLimits{500, 60000, 60000});
  const auto start = Clock::now();
  dlg->OnUpdate();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "Error Sending Data.");
  EXPECT_LT(MsSince(start, host->Boxes()[0].when), Scaled(3000));
  EXPECT_EQ(dlg->Result(), UpdateResult::kDownloadFailed);
  EXPECT_LE(device->Blocks().size(), 3u);
  EXPECT_FALSE(Contains(device->Ids(), kEnd));
}

}  // namespace
}  // namespace cvm6::test
