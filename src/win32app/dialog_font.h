#pragma once
// The font of the window's dialog template at the scale of the screen it opens on.
//
// Template 102 names "Small Fonts" at 7 points: a raster face that Windows has in a few
// pixel sizes, drawn for 96 and 120 dpi. At other scales Windows gives what it has: at
// 144 dpi the 96-dpi size (the whole window, whose dialog units follow the font, at two
// thirds of its size, with texts cut by the system's larger scroll buttons and frames),
// at 192 dpi that size doubled, blocky and a pixel short. Where the face cannot be drawn
// at the size asked for, the window takes a TrueType face of the template's point size
// in its place; the controls keep their dialog units, so the layout stays the template's.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "win32app/windows_api.h"

namespace cvm6 {

// The font of an extended dialog template (DIALOGEX with a FONT statement).
struct DialogFont {
  std::wstring face;
  int points = 0;
  int weight = 0;
  bool italic = false;
  int charset = DEFAULT_CHARSET;
  std::size_t faceAt = 0;   // where the face's name starts in the template
  std::size_t faceEnd = 0;  // just after its terminating NUL
};

// The font of `dialog`; nothing when it is no extended template with a font, or when it
// ends before its font does.
std::optional<DialogFont> ReadDialogFont(std::span<const std::uint8_t> dialog);

// A copy of `dialog` whose font is `face`, its controls moved with it to the next
// DWORD boundary as the dialog manager reads them; nothing when `dialog` has no font.
std::optional<std::vector<std::uint8_t>> WithFontFace(std::span<const std::uint8_t> dialog, const std::wstring& face);

// Whether GDI draws `font` at `dpi` as asked: it has the face, and it is scalable or has
// a raster size of exactly the pixels that the point size makes at that scale.
bool DrawsAt(const DialogFont& font, unsigned dpi);

// The face to draw `font` in at every scale of `dpis`: its own where it draws at all of
// them, else the first TrueType face of the system's dialogs that GDI has.
std::wstring FaceForScales(const DialogFont& font, std::span<const unsigned> dpis);

// Dialog `id` of `module` in the face that FaceForScales gives; nothing when the
// template's own face is the one to use (or the template cannot be read): the dialog
// is then made from the resource as it stands.
std::optional<std::vector<std::uint8_t>> DialogForScales(HMODULE module, int id, std::span<const unsigned> dpis);

}  // namespace cvm6
