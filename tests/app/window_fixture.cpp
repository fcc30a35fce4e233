#include "window_fixture.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <filesystem>

namespace cvm6::test {

void WindowTest::TearDown() {
  window.reset();
  if (simulator) simulator->Stop();
}

void WindowTest::StartSimulator(FaultPlan faults) {
  SimulatorConfig config;
  config.identity.eraseMs = 50;
  config.faults = faults;
  simulator = std::make_unique<CDeviceSimulator>(config);
  ASSERT_TRUE(simulator->Start()) << simulator->ErrorText();
}

void WindowTest::MakeWindow(UpdateLimits limits, std::optional<std::string> extraPort) {
  const std::string port = extraPort.value_or(simulator ? simulator->PortPath() : "");
  ports = std::make_unique<EnvGuard>("CVM6_PORTS", port);
  window = std::make_unique<CUpdaterWindow>(limits);
  window->Window().SetMessageBoxRunner([this](QMessageBox& box) {
    boxes.push_back({box.windowTitle(), box.text(), box.icon(), box.standardButtons(),
                     QApplication::overrideCursor() != nullptr});
    QMessageBox::StandardButton answer = box.standardButtons() & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    return static_cast<int>(answer);
  });
}

int WindowTest::Run(std::function<void()> script) {
  QTimer::singleShot(0, &window->Window(), [this, script = std::move(script)] {
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window->Window()));
    script();
  });
  return window->Run();
}

void WindowTest::WriteImage(std::uint32_t count) {
  std::string hex;
  for (std::uint32_t offset = 0; offset < count; offset += 16) {
    std::string data;
    for (std::uint32_t i = offset; i < count && i < offset + 16; ++i) data += static_cast<char>(i * 7 + 3);
    hex += HexRecord(static_cast<std::uint16_t>(offset), 0, data);
  }
  hex += kEndRecord;
  cwd.Write("fw.hex", hex);
  cwd.Write("cvm6.ini", "fw.hex 2000\r\n");
}

void WindowTest::Click(int id) { QTest::mouseClick(window->Window().Control(id), Qt::LeftButton); }

void WindowTest::SelectLastPort() {
  QComboBox* list = Widget<QComboBox>(IDC_PORT_LIST);
  list->setFocus();
  QTest::keyClick(list, Qt::Key_End);
}

void WindowTest::Key(Qt::Key key) {
  QWidget* target = QApplication::focusWidget();
  QTest::keyClick(target ? target : &window->Window(), key);
}

QLabel* WindowTest::LabelWithText(const QString& text) {
  for (QLabel* label : window->Window().findChildren<QLabel*>())
    if (label->text() == text) return label;
  return nullptr;
}

int WindowTest::ThreadCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

}  // namespace cvm6::test
