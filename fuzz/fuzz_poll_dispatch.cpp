// Poll's dispatch on arbitrary frames, as the link would deliver them: every frame is
// appended to the receive queue of the updater's window (a CUpdaterDlg on a host that
// shows nothing) and Poll hands each to its handler. Addresses, flag, length byte and
// payload all come from the input, notices (255 -> 255) included. A handler may refuse
// an announcement with failure 1303; Poll is then called again for the rest.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "link/frame.h"
#include "platform/dialog.h"
#include "platform/failure.h"
#include "update/updater_dlg.h"

namespace {

class SilentHost : public cvm6::DialogHost {
 public:
  void SetControlText(int id, const std::string& text) override { m_text[id] = text; }
  std::string GetControlText(int id) override { return m_text[id]; }
  void SetListSelection(int id, int index) override { m_selection[id] = index; }
  int GetListSelection(int id) override { return m_selection.count(id) ? m_selection[id] : -1; }
  std::string GetListItemText(int, int) override { return ""; }
  void EnableControl(int, bool) override {}
  bool IsControlEnabled(int) override { return true; }
  void SetProgressRange(int, int, int) override {}
  void SetProgressPos(int, int) override {}
  int GetProgressPos(int) override { return 0; }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  int MessageBox(const std::string&, cvm6::MsgIcon, cvm6::MsgButtons) override { return cvm6::IDOK; }
  void EndDialog(int) override {}
  void PumpMessages() override {}

 private:
  std::map<int, std::string> m_text;
  std::map<int, int> m_selection;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SilentHost host;
  cvm6::CUpdaterDlg dlg;
  dlg.AttachHost(&host);
  dlg.OnInitDialog();
  std::size_t at = 0;
  // Each frame: destination, source, flag, length byte, then its payload (as much of
  // it as the input still holds; the rest is zero).
  while (size - at >= 4) {
    auto frame = std::make_unique<cvm6::Frame>();
    frame->destination = data[at];
    frame->source = data[at + 1];
    frame->ackWanted = data[at + 2] & 1;
    frame->length = data[at + 3];
    at += 4;
    const std::size_t n = frame->PayloadSize();
    frame->payload = std::make_unique<std::uint8_t[]>(n);
    const std::size_t take = n < size - at ? n : size - at;
    std::memcpy(frame->payload.get(), data + at, take);
    at += take;
    dlg.Link().AppendReceived(std::move(frame));
  }
  for (int tries = 0; tries < 1000; ++tries) {
    try {
      dlg.Poll(0);
      break;
    } catch (const cvm6::CFailure& failure) {
      if (failure.code() != 1303) throw;
    }
  }
  return 0;
}
