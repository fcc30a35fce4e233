#include "win32app/dialog_font.h"

#include <cwchar>

namespace cvm6 {
namespace {

// DLGTEMPLATEEX up to its menu: version, signature, help id, extended style, style,
// control count, x, y, width, height.
constexpr std::size_t kExHeaderSize = 26;
constexpr std::size_t kStyleAt = 12;

// The dialog faces of Windows since 2000 ("MS Shell Dlg 2" and "MS Shell Dlg" stand for
// them), both TrueType; Wine's own fonts have the first.
constexpr const wchar_t* kTrueTypeFaces[] = {L"Tahoma", L"Microsoft Sans Serif"};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes, std::size_t at = 0) : m_bytes(bytes), m_at(at) {}
  std::size_t At() const { return m_at; }
  bool Word(std::uint16_t& value) {
    if (m_bytes.size() < 2 || m_at > m_bytes.size() - 2) return false;
    value = static_cast<std::uint16_t>(m_bytes[m_at] | m_bytes[m_at + 1] << 8);
    m_at += 2;
    return true;
  }
  // A UTF-16 text up to its NUL, which is read too.
  bool Text(std::wstring* text) {
    for (std::uint16_t c = 0; Word(c);) {
      if (c == 0) return true;
      if (text) text->push_back(static_cast<wchar_t>(c));
    }
    return false;
  }
  // A menu or class field: nothing (0), an ordinal (0xFFFF, then the number) or a name.
  bool NameOrOrdinal() {
    std::uint16_t first = 0;
    if (!Word(first)) return false;
    if (first == 0) return true;
    if (first == 0xFFFF) return Word(first);
    return Text(nullptr);
  }

 private:
  std::span<const std::uint8_t> m_bytes;
  std::size_t m_at;
};

std::size_t ToDword(std::size_t at) { return (at + 3) & ~static_cast<std::size_t>(3); }

bool SameFace(const wchar_t* a, const std::wstring& b) { return _wcsicmp(a, b.c_str()) == 0; }

// What GDI gives for `face` in the size and weight of `font` at `dpi`.
struct DrawnFace {
  wchar_t face[LF_FACESIZE] = {};
  TEXTMETRICW metrics{};
  int pixels = 0;  // the character height asked for
};

DrawnFace Draw(const DialogFont& font, const std::wstring& face, unsigned dpi) {
  DrawnFace drawn;
  LOGFONTW wanted{};
  drawn.pixels = MulDiv(font.points, static_cast<int>(dpi), 72);
  wanted.lfHeight = -drawn.pixels;  // as the dialog manager asks for it
  wanted.lfWeight = font.weight;
  wanted.lfItalic = font.italic ? TRUE : FALSE;
  wanted.lfCharSet = static_cast<BYTE>(font.charset);
  wcsncpy(wanted.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  const HFONT made = CreateFontIndirectW(&wanted);
  const HDC dc = CreateCompatibleDC(nullptr);
  if (made && dc) {
    const HGDIOBJ old = SelectObject(dc, made);
    GetTextFaceW(dc, LF_FACESIZE, drawn.face);
    GetTextMetricsW(dc, &drawn.metrics);
    SelectObject(dc, old);
  }
  if (dc) DeleteDC(dc);
  if (made) DeleteObject(made);
  return drawn;
}

}  // namespace

std::optional<DialogFont> ReadDialogFont(std::span<const std::uint8_t> dialog) {
  Reader reader(dialog);
  std::uint16_t version = 0, signature = 0;
  if (!reader.Word(version) || !reader.Word(signature) || version != 1 || signature != 0xFFFF) return std::nullopt;
  if (dialog.size() < kExHeaderSize) return std::nullopt;
  const std::uint32_t style = dialog[kStyleAt] | dialog[kStyleAt + 1] << 8 | dialog[kStyleAt + 2] << 16 |
                              static_cast<std::uint32_t>(dialog[kStyleAt + 3]) << 24;
  if (!(style & (DS_SETFONT | DS_SHELLFONT))) return std::nullopt;
  reader = Reader(dialog, kExHeaderSize);
  DialogFont font;
  std::uint16_t points = 0, weight = 0, italicAndCharset = 0;
  if (!reader.NameOrOrdinal() || !reader.NameOrOrdinal() || !reader.Text(nullptr) || !reader.Word(points) ||
      !reader.Word(weight) || !reader.Word(italicAndCharset)) {
    return std::nullopt;
  }
  font.points = points;
  font.weight = weight;
  font.italic = (italicAndCharset & 0xFF) != 0;
  font.charset = italicAndCharset >> 8;
  font.faceAt = reader.At();
  if (!reader.Text(&font.face)) return std::nullopt;
  font.faceEnd = reader.At();
  return font;
}

std::optional<std::vector<std::uint8_t>> WithFontFace(std::span<const std::uint8_t> dialog, const std::wstring& face) {
  const auto font = ReadDialogFont(dialog);
  if (!font) return std::nullopt;
  std::vector<std::uint8_t> out(dialog.begin(), dialog.begin() + static_cast<std::ptrdiff_t>(font->faceAt));
  for (const wchar_t c : face) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8 & 0xFF));
  }
  out.insert(out.end(), {0, 0});
  // The controls start at the next DWORD boundary after the font, in either template.
  const std::size_t controls = ToDword(font->faceEnd);
  out.resize(ToDword(out.size()), 0);
  if (controls < dialog.size()) {
    out.insert(out.end(), dialog.begin() + static_cast<std::ptrdiff_t>(controls), dialog.end());
  }
  return out;
}

bool DrawsAt(const DialogFont& font, unsigned dpi) {
  const DrawnFace drawn = Draw(font, font.face, dpi);
  if (!SameFace(drawn.face, font.face)) return false;  // a stand-in
  if (drawn.metrics.tmPitchAndFamily & (TMPF_TRUETYPE | TMPF_VECTOR)) return true;
  return drawn.metrics.tmHeight - drawn.metrics.tmInternalLeading == drawn.pixels;
}

std::wstring FaceForScales(const DialogFont& font, std::span<const unsigned> dpis) {
  bool drawsEverywhere = true;
  for (const unsigned dpi : dpis) drawsEverywhere = drawsEverywhere && DrawsAt(font, dpi);
  if (drawsEverywhere) return font.face;
  for (const wchar_t* face : kTrueTypeFaces) {
    const DrawnFace drawn = Draw(font, face, dpis.empty() ? 96 : dpis.front());
    if (SameFace(drawn.face, face) && (drawn.metrics.tmPitchAndFamily & TMPF_TRUETYPE)) return face;
  }
  return font.face;  // nothing better: Windows' own choice
}

std::optional<std::vector<std::uint8_t>> DialogForScales(HMODULE module, int id, std::span<const unsigned> dpis) {
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
  const void* bytes = found ? LockResource(LoadResource(module, found)) : nullptr;
  if (!bytes) return std::nullopt;
  const std::span<const std::uint8_t> dialog(static_cast<const std::uint8_t*>(bytes), SizeofResource(module, found));
  const auto font = ReadDialogFont(dialog);
  if (!font) return std::nullopt;
  const std::wstring face = FaceForScales(*font, dpis);
  if (SameFace(face.c_str(), font->face)) return std::nullopt;
  return WithFontFace(dialog, face);
}

}  // namespace cvm6
