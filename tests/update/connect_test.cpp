// Connect and identify: the window against the unit played in raw bytes on a
// pseudo-terminal, from the link handshake to the online state the reply leaves.
#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/failure.h"
#include "support/process.h"
#include "updater_fixture.h"

namespace cvm6::test {
namespace {

TEST_F(UpdaterTest, StartsOfflineWithUpdateDisabled) {
  Begin();
  EXPECT_FALSE(Enabled(IDC_UPDATE));
  EXPECT_TRUE(Enabled(IDC_CLOSE));
  EXPECT_TRUE(Enabled(IDC_CONNECT));
  EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Offline");
  EXPECT_EQ(Text(IDC_DEVICE_NAME), "No Device");
  EXPECT_EQ(Text(IDC_STATUS), "");
  EXPECT_EQ(host->Control(IDC_PORT_LIST).selection, 0);
  EXPECT_EQ(host->Control(IDC_DEVICE_LIST).selection, 0);
  EXPECT_EQ(host->Control(IDC_TOTAL_PROGRESS).upper, 159);
  EXPECT_EQ(host->Control(IDC_BLOCK_PROGRESS).pos, 0);
  EXPECT_FALSE(dlg->HasPort());
  EXPECT_FALSE(dlg->Link().IsStarted());
}

// The unit comes up 300 ms after the link and announces itself as 5; the device data
// request goes to 5 and its reply names a Corvane M6 with firmware 1.023.
TEST_F(UpdaterTest, ConnectIdentifiesTheUnitAndGoesOnline) {
  DeviceScript script;
  script.announceDelayMs = 300;
  Begin(script);
  const int ms = ConnectMs();
  EXPECT_LT(ms, Scaled(3000));  // as soon as the unit is seen, not after the 5000 ms limit

  EXPECT_TRUE(host->Boxes().empty());
  EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Online");
  EXPECT_EQ(Text(IDC_DEVICE_NAME), "Corvane M6");
  EXPECT_EQ(host->Control(IDC_DEVICE_LIST).selection, 1);
  EXPECT_TRUE(Enabled(IDC_UPDATE));
  EXPECT_TRUE(Enabled(IDC_CLOSE));
  EXPECT_FALSE(Enabled(IDC_CONNECT));
  EXPECT_EQ(dlg->DeviceAddress(), 5);
  EXPECT_FLOAT_EQ(dlg->FirmwareVersion(), 1.023f);
  EXPECT_EQ(dlg->Result(), UpdateResult::kConnected);
  EXPECT_TRUE(dlg->HasPort());
  EXPECT_TRUE(dlg->Link().IsActive());
  EXPECT_EQ(host->WaitDepth(), 0);

  // Exactly one request went out: device data, to 5, from the address the unit gave us,
  // with acknowledgement wanted.
  const auto frames = device->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].dest, 5);
  EXPECT_EQ(frames[0].src, 1);
  EXPECT_TRUE(frames[0].ackWanted);
  EXPECT_EQ(frames[0].payload, (Bytes{0x1A, 0x00}));
}

// A unit that announces itself the moment it hears the wake reaches the updater's node
// before the updater's own link counts itself up, and the device data request is then
// refused by the link: it must be asked again once the link is up, not lost.
TEST_F(UpdaterTest, AnAnnouncementAheadOfLinkUpStillGetsTheDeviceDataRequest) {
  DeviceScript script;
  script.announceBeforeLinkUp = true;
  Begin(script);
  const int ms = ConnectMs();
  EXPECT_LT(ms, Scaled(3000));
  EXPECT_TRUE(host->Boxes().empty());
  EXPECT_EQ(Text(IDC_DEVICE_NAME), "Corvane M6");
  EXPECT_TRUE(Enabled(IDC_UPDATE));
  const auto frames = device->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload, (Bytes{0x1A, 0x00}));
}

// Connect right after a session that ended without taking the unit's link down: the
// unit's link is still up, so our wake only brings a sync block and no announcement. Its
// link is taken down once ours has been up for the announcement limit with nothing heard,
// and the unit is found within the connect wait. A unit that announces itself in time,
// even late, never sees an unrecognised control byte.
struct StaleSessionCase {
  const char* name;
  bool linkUpFromEarlierSession;
  bool staleReply;
  int announceDelayMs;
  bool knocked;  // the unit's link was taken down
};

void PrintTo(const StaleSessionCase& row, std::ostream* out) { *out << row.name; }

class ConnectAfterAnEarlierSession : public UpdaterTest, public ::testing::WithParamInterface<StaleSessionCase> {};

TEST_P(ConnectAfterAnEarlierSession, FindsTheUnitWithinTheConnectWait) {
  const StaleSessionCase& row = GetParam();
  DeviceScript script;
  script.linkUpFromEarlierSession = row.linkUpFromEarlierSession;
  script.staleReply = row.staleReply;
  script.announceDelayMs = row.announceDelayMs;
  UpdateLimits limits;  // the unit's own connect wait and announcement limit
  limits.startEndMs = limits.writeMs = 1000;
  Begin(script, limits);
  dlg->OnConnect();
  EXPECT_TRUE(host->Boxes().empty());
  EXPECT_EQ(dlg->Result(), UpdateResult::kConnected);
  EXPECT_EQ(Text(IDC_DEVICE_NAME), "Corvane M6");
  EXPECT_TRUE(Enabled(IDC_UPDATE));
  EXPECT_EQ(device->LinkDownsByBadControl() > 0, row.knocked);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectAfterAnEarlierSession,
    ::testing::Values(StaleSessionCase{"AUnitThatAnnouncesAtOnce", false, false, 0, false},
                      StaleSessionCase{"AUnitThatAnnouncesLate", false, false, 700, false},
                      StaleSessionCase{"AUnitWhoseLinkStayedUp", true, false, 0, true},
                      StaleSessionCase{"AUnitWhoseLinkStayedUpWithAReplyOutstanding", true, true, 0, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(UpdaterTest, AnotherDeviceTypeEnablesUpdateButNamesNoDevice) {
  DeviceScript script;
  script.deviceType = 0x41;
  script.version[0] = '2';
  Begin(script);
  dlg->OnConnect();
  EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Online");
  EXPECT_EQ(Text(IDC_DEVICE_NAME), "No Device");
  EXPECT_EQ(host->Control(IDC_DEVICE_LIST).selection, 0);
  EXPECT_TRUE(Enabled(IDC_UPDATE));
  EXPECT_FALSE(Enabled(IDC_CONNECT));
  EXPECT_FLOAT_EQ(dlg->FirmwareVersion(), 2.023f);
}

// No reply, or a reply from an address that is not the unit's: online all the same,
// Update disabled, nothing learnt. Both wait out the device limit.
struct NoValidReply {
  const char* name;
  bool answer;
  std::optional<std::uint8_t> source;
};

class ConnectWithoutValidReply : public UpdaterTest, public ::testing::WithParamInterface<NoValidReply> {};

TEST_P(ConnectWithoutValidReply, GoesOnlineWithUpdateDisabled) {
  DeviceScript script;
  script.answerDeviceData = GetParam().answer;
  script.deviceDataSource = GetParam().source;
  Begin(script, ShortLimits());
  const int ms = ConnectMs();
  EXPECT_GE(ms, 450);  // the identify wait ran to its limit
  EXPECT_TRUE(host->Boxes().empty());
  EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Online");
  EXPECT_EQ(Text(IDC_DEVICE_NAME), "No Device");
  EXPECT_EQ(host->Control(IDC_DEVICE_LIST).selection, 0);
  EXPECT_FALSE(Enabled(IDC_UPDATE));
  EXPECT_FALSE(Enabled(IDC_CONNECT));
  EXPECT_TRUE(Enabled(IDC_CLOSE));
  EXPECT_FLOAT_EQ(dlg->FirmwareVersion(), 0.0f);
  EXPECT_EQ(dlg->Result(), UpdateResult::kNotIdentified);
  EXPECT_TRUE(dlg->HasPort());
  EXPECT_TRUE(dlg->Link().IsStarted());
}

INSTANTIATE_TEST_SUITE_P(Update, ConnectWithoutValidReply,
                         ::testing::Values(NoValidReply{"NoReply", false, std::nullopt},
                                           NoValidReply{"ReplyFromAddress6", true, std::uint8_t{6}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(UpdaterTest, PortThatDoesNotOpenLeavesTheWindowOffline) {
  Begin({}, ShortLimits(), (cwd.path() / "no-such-tty").string());
  dlg->OnConnect();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, kPortNotOpened);
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Stop);
  EXPECT_EQ(host->Boxes()[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Offline");
  EXPECT_TRUE(Enabled(IDC_CONNECT));
  EXPECT_FALSE(Enabled(IDC_UPDATE));
  EXPECT_FALSE(dlg->HasPort());
  EXPECT_FALSE(dlg->Link().IsStarted());
  EXPECT_FALSE(dlg->PortOpenError().empty());
  EXPECT_EQ(dlg->Result(), UpdateResult::kPortNotOpened);
  EXPECT_EQ(host->WaitDepth(), 0);

  // Connect can be pressed again, and fails the same way.
  dlg->OnConnect();
  EXPECT_EQ(host->Boxes().size(), 2u);
  EXPECT_FALSE(dlg->HasPort());
}

// The link comes up but the unit never announces itself.
TEST_F(UpdaterTest, NoDeviceFailsAfterTheLimitAndStopsTheLink) {
  DeviceScript script;
  script.announce = false;
  Begin(script, ShortLimits());
  const auto start = Clock::now();
  dlg->OnConnect();
  ASSERT_EQ(host->Boxes().size(), 1u);
  const int ms = MsSince(start, host->Boxes()[0].when);
  EXPECT_GE(ms, 490);
  EXPECT_LT(ms, 500 + Scaled(1500));
  EXPECT_TRUE(device->LinkUp());  // it was the unit that stayed silent, not the link
  EXPECT_EQ(host->Boxes()[0].text, kCannotConnect);
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Stop);
  EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Offline");
  EXPECT_TRUE(Enabled(IDC_CONNECT));
  EXPECT_FALSE(Enabled(IDC_UPDATE));
  EXPECT_FALSE(dlg->HasPort());
  EXPECT_FALSE(dlg->Link().IsStarted());
  EXPECT_TRUE(device->Frames().empty());
  EXPECT_EQ(dlg->Result(), UpdateResult::kDeviceNotFound);
  EXPECT_EQ(host->WaitDepth(), 0);
}

// An unplugged adapter during Connect can never bring the unit: the wait ends at once.
TEST_F(UpdaterTest, PortGoneDuringConnectFailsAtOnce) {
  DeviceScript script;
  script.announce = false;
  Begin(script);  // the 5000 ms device limit
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    device->Stop();
    pty.CloseMaster();
  });
  const int ms = ConnectMs();
  unplug.join();
  EXPECT_LT(ms, 200 + Scaled(2000));
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, kCannotConnect);
  EXPECT_FALSE(dlg->HasPort());
  EXPECT_FALSE(dlg->Link().IsStarted());
}

// A failure code from the layers below ends Connect with a message that names it, the
// connection torn down and Close the only way on; nothing escapes the handler.
TEST_F(UpdaterTest, FailureCodeDuringConnectIsReportedAndTearsDown) {
  class OutOfMemory : public CUpdaterDlg {
   public:
    using CUpdaterDlg::CUpdaterDlg;
    void OnNowActive() override { ThrowCode(1302); }
  };
  Begin({}, ShortLimits());
  dlg = std::make_unique<OutOfMemory>(ShortLimits());
  dlg->AttachHost(host.get());
  dlg->OnInitDialog();
  EXPECT_NO_THROW(dlg->OnConnect());
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text, "Communication error 1302: out of memory for a message.");
  EXPECT_EQ(host->Boxes()[0].icon, MsgIcon::Stop);
  EXPECT_TRUE(Enabled(IDC_CLOSE));
  EXPECT_FALSE(Enabled(IDC_UPDATE));
  EXPECT_FALSE(Enabled(IDC_CONNECT));
  EXPECT_FALSE(dlg->HasPort());
  EXPECT_FALSE(dlg->Link().IsStarted());
  EXPECT_FALSE(dlg->IsCommandRunning());
  EXPECT_EQ(dlg->Result(), UpdateResult::kCommunicationError);
  EXPECT_EQ(host->WaitDepth(), 0);
}

// An announcement the node refuses (an IDENTIFY without acknowledgement: 1303) changes
// nothing and is dropped, traced; Connect goes on and takes the real one behind it.
TEST_F(UpdaterTest, AMalformedAnnouncementIsDroppedAndConnectGoesOn) {
  DeviceScript script;
  script.malformedAnnouncementFirst = true;
  Begin(script, ShortLimits());
  std::vector<std::string> trace;
  dlg->SetTraceSink([&](const std::string& line) { trace.push_back(line); });
  dlg->OnConnect();
  EXPECT_TRUE(host->Boxes().empty());
  EXPECT_EQ(dlg->Result(), UpdateResult::kConnected);
  EXPECT_TRUE(Enabled(IDC_UPDATE));
  EXPECT_TRUE(std::any_of(trace.begin(), trace.end(),
                          [](const std::string& line) { return line.rfind("DEL: 1303", 0) == 0; }));
}

// A unit left powered since a run that ended after its first message drops our first
// device data request as a repeat (it acknowledges it all the same): it is asked again
// as a new message and identified well inside the device limit.
TEST_F(UpdaterTest, AUnitThatTakesTheFirstRequestForARepeatIsAskedAgain) {
  DeviceScript script;
  script.lastAcceptedSequence = 1;
  Begin(script);
  const int ms = ConnectMs();
  EXPECT_EQ(Text(IDC_DEVICE_NAME), "Corvane M6");
  EXPECT_TRUE(Enabled(IDC_UPDATE));
  EXPECT_EQ(dlg->Result(), UpdateResult::kConnected);
  EXPECT_LT(ms, Scaled(3000));
  // One request was dropped by the unit; the second, numbered 2, was taken.
  const auto frames = device->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload, (Bytes{0x1A, 0x00}));
  EXPECT_EQ(frames[0].sequence, 2);
}

// A path that opens but is no serial line: the window reports the communication error
// it is, with nothing left open; the procedure knows the port was the cause.
TEST_F(UpdaterTest, APortThatIsNoSerialLineIsACommunicationErrorWithTheReason) {
  Begin({}, ShortLimits(), NullDeviceName());
  dlg->OnConnect();
  ASSERT_EQ(host->Boxes().size(), 1u);
  EXPECT_EQ(host->Boxes()[0].text.rfind("Communication error 1101", 0), 0u);
  EXPECT_EQ(dlg->Result(), UpdateResult::kPortUnusable);
  EXPECT_EQ(dlg->PortOpenError(), "not a serial port");
  EXPECT_FALSE(dlg->HasPort());
  EXPECT_FALSE(dlg->Link().IsStarted());
  EXPECT_TRUE(Enabled(IDC_CLOSE));
}

// Whoever interrupts wakes the wait that sleeps: with no unit and the whole 5000 ms
// device limit, Connect gives up as soon as it is woken, not at the limit.
TEST_F(UpdaterTest, AnInterruptEndsASleepingWaitAtOnce) {
  struct Stop {};
  class Interruptible : public CUpdaterDlg {
   public:
    std::atomic<bool> interrupted{false};
    void CheckInterrupt() override {
      if (interrupted) throw Stop{};
    }
  };
  DeviceScript script;
  script.announce = false;
  Begin(script);
  auto* interruptible = new Interruptible;
  dlg.reset(interruptible);
  dlg->AttachHost(host.get());
  dlg->OnInitDialog();
  std::thread interrupter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    interruptible->interrupted = true;
    interruptible->WakeWaits();
  });
  const auto start = Clock::now();
  EXPECT_THROW(dlg->OnConnect(), Stop);
  interrupter.join();
  EXPECT_LT(MsSince(start, Clock::now()), 300 + Scaled(700));
  EXPECT_FALSE(dlg->IsCommandRunning());
}

TEST_F(UpdaterTest, DeviceSelectionFollowsTheChoiceOnlyAfterTheUnitWasSeen) {
  Begin();
  host->UserSelects(IDC_DEVICE_LIST, 1);
  dlg->OnSelchangeDevice();
  EXPECT_FALSE(Enabled(IDC_UPDATE));

  dlg->OnConnect();
  ASSERT_TRUE(Enabled(IDC_UPDATE));
  host->UserSelects(IDC_DEVICE_LIST, 0);
  dlg->OnSelchangeDevice();
  EXPECT_FALSE(Enabled(IDC_UPDATE));
  host->UserSelects(IDC_DEVICE_LIST, 1);
  dlg->OnSelchangeDevice();
  EXPECT_TRUE(Enabled(IDC_UPDATE));
}

}  // namespace
}  // namespace cvm6::test
