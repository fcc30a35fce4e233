#pragma once
// The dialog framework the updater's window is written against. CDialog offers the
// window operations the update procedure needs and forwards them to a DialogHost: the
// Qt window, the console of cvm6-flash, or a scripted host in the tests. The procedure
// runs the same code under all three.
//
// Threading rule: every call happens on the one thread that owns the window, except
// Wake, which any thread may call.
//
// The window's thread answers its system within about 100 ms at all times. Windows takes
// a window whose thread has left its messages for 5 s for hung ("Not Responding", and a
// "Close the program" that kills the process in the middle of a flash); desktops on
// Linux ping windows the same way and offer "Force Quit". The procedure runs on the
// window's thread, so none of its calls may keep that thread longer: every wait of the
// procedure (the unit's appearance, its device data, the erase, each write, the end,
// riding through a dropped link, the link's stop) sleeps in WaitHandlingMessages, which
// a host with a window spends handling the window's messages (painting, input, the
// system's pings) until it is woken; between blocks the block pass calls PumpMessages.
// While a command runs the window handles its messages but refuses a second command and
// every way of closing it (Close, Escape, Alt+F4, the system menu's Close): the command
// still holds the port and the link.
#include <cstdint>
#include <string>

namespace cvm6 {

enum class MsgIcon { None, Stop, Question, Warning };
enum class MsgButtons { Ok, YesNo };
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Thrown by a command to end itself after it has told the user why (the window's
// command handler catches it and shows nothing more).
struct CUserException {};

class DialogHost {
 public:
  virtual ~DialogHost() = default;
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual std::string GetControlText(int id) = 0;
  virtual void SetListSelection(int id, int index) = 0;
  virtual int GetListSelection(int id) = 0;  // -1 when nothing is selected
  virtual std::string GetListItemText(int id, int index) = 0;  // "" when there is none
  virtual void EnableControl(int id, bool enable) = 0;
  virtual bool IsControlEnabled(int id) = 0;
  virtual void SetProgressRange(int id, int lower, int upper) = 0;
  virtual void SetProgressPos(int id, int pos) = 0;
  virtual int GetProgressPos(int id) = 0;
  virtual void BeginWaitCursor() = 0;  // nested: each begin is undone by one end
  virtual void EndWaitCursor() = 0;
  virtual int MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) = 0;
  virtual void EndDialog(int result) = 0;
  virtual void PumpMessages() = 0;  // handles pending window events, never waits

  // Whether this host has a window whose messages its thread must handle while the
  // procedure waits. Hosts without one (the console, the tests' scripted host) say no,
  // and the procedure sleeps in waits of its own.
  virtual bool HandlesMessagesWhileWaiting() { return false; }
  // Handles the window's messages as they come until Wake is called or `timeoutMs` pass.
  // A Wake that came since the last wait ends it at once, so none is lost between the
  // caller's last look at its conditions and this call.
  virtual void WaitHandlingMessages(std::uint32_t /*timeoutMs*/) {}
  // Ends the WaitHandlingMessages that runs now, or else the next one. Any thread.
  virtual void Wake() {}
  // From the erase request to the end of the download the unit's flash is incomplete:
  // a host that can asks its system not to end the session meanwhile (true), and lets
  // go again (false).
  virtual void HoldSession(bool /*hold*/) {}
};

// One direction of the data exchange between controls and member variables.
class CDataExchange {
 public:
  CDataExchange(DialogHost& host, bool saveAndValidate) : m_host(host), m_bSaveAndValidate(saveAndValidate) {}
  DialogHost& m_host;
  const bool m_bSaveAndValidate;  // true: controls -> variables
};

void DDX_CBIndex(CDataExchange& dx, int id, int& index);
void DDX_Text(CDataExchange& dx, int id, std::string& text);

// A progress bar control object, bound to its control on the first exchange.
class CProgressCtrl {
 public:
  void Attach(DialogHost* host, int id) { m_host = host, m_id = id; }
  void SetRange(int lower, int upper);
  void SetPos(int pos);
  int GetPos() const;

 private:
  DialogHost* m_host = nullptr;
  int m_id = 0;
};

// A drop-down list control object; the updater only holds the device choice in it.
class CComboBox {
 public:
  void Attach(DialogHost* host, int id) { m_host = host, m_id = id; }
  int GetCurSel() const { return m_host ? m_host->GetListSelection(m_id) : -1; }

 private:
  DialogHost* m_host = nullptr;
  int m_id = 0;
};
void DDX_Control(CDataExchange& dx, int id, CProgressCtrl& control);
void DDX_Control(CDataExchange& dx, int id, CComboBox& control);

class CDialog {
 public:
  explicit CDialog(int templateId) : m_templateId(templateId) {}
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  int TemplateId() const { return m_templateId; }
  void AttachHost(DialogHost* host) { m_host = host; }
  DialogHost* Host() const { return m_host; }

  // Controls -> variables (true) or variables -> controls (false).
  bool UpdateData(bool saveAndValidate = true);
  virtual bool OnInitDialog();  // writes the variables to the controls
  virtual void OnDestroy() {}
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  void EndDialog(int result);
  void EnableControl(int id, bool enable);
  int MessageBoxPrompt(std::uint32_t promptId, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok);
  int MessageBoxText(const std::string& text, MsgIcon icon, MsgButtons buttons = MsgButtons::Ok);
  void BeginWaitCursor();
  void EndWaitCursor();
  void PumpMessages();

 protected:
  virtual void DoDataExchange(CDataExchange&) {}

 private:
  int m_templateId;
  DialogHost* m_host = nullptr;
};

// Shows the wait cursor for as long as it lives.
class CWaitCursor {
 public:
  explicit CWaitCursor(CDialog& dialog) : m_dialog(dialog) { m_dialog.BeginWaitCursor(); }
  ~CWaitCursor() { m_dialog.EndWaitCursor(); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;

 private:
  CDialog& m_dialog;
};

}  // namespace cvm6
