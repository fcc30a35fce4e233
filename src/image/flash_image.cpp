#include "image/flash_image.h"

namespace cvm6 {

CFlashImage::CFlashImage() = default;
CFlashImage::~CFlashImage() = default;  // each level frees its pages, then itself

CFlashImage::Page& CFlashImage::WritablePage(std::uint32_t address) {
  auto& middle = m_top[address >> 24];
  if (!middle) middle = std::make_unique<MiddleTable>();
  auto& bottom = (*middle)[(address >> 16) & 0xFF];
  if (!bottom) bottom = std::make_unique<BottomTable>();
  auto& page = (*bottom)[(address >> 8) & 0xFF];
  if (!page) page = std::make_unique<Page>();  // bitmap clear
  return *page;
}

void CFlashImage::SetByte(std::uint32_t address, std::uint8_t value) {
  // Bytes come in address order, a page at a time: the page of the last store usually
  // serves the next one without the three-step walk. Pages are never freed.
  const std::uint32_t pageNumber = address >> 8;
  if (!m_lastPage || pageNumber != m_lastPageNumber) {
    m_lastPage = &WritablePage(address);
    m_lastPageNumber = pageNumber;
  }
  Page& page = *m_lastPage;
  const unsigned offset = address & 0xFF;
  const auto mask = static_cast<std::uint8_t>(1u << (offset & 7));
  if (!(page.present[offset >> 3] & mask)) {
    page.present[offset >> 3] |= mask;
    ++m_count;
  }
  page.data[offset] = value;
}

const CFlashImage::Page* CFlashImage::FindPage(std::uint32_t address) const {
  const auto& middle = m_top[address >> 24];
  if (!middle) return nullptr;
  const auto& bottom = (*middle)[(address >> 16) & 0xFF];
  if (!bottom) return nullptr;
  return (*bottom)[(address >> 8) & 0xFF].get();
}

bool CFlashImage::IsSet(std::uint32_t address) const {
  const Page* page = FindPage(address);
  const unsigned offset = address & 0xFF;
  return page && (page->present[offset >> 3] & (1u << (offset & 7)));
}

std::uint8_t CFlashImage::GetByte(std::uint32_t address) const {
  return IsSet(address) ? FindPage(address)->data[address & 0xFF] : m_fill;
}

void CFlashImage::AdvanceToNextPage(unsigned& top, unsigned& middle, unsigned& bottom) const {
  // The page number as a 24-bit counter; each carry restarts the lower indexes at 0.
  auto nextBottom = [&] {
    if (++bottom == 256) {
      bottom = 0;
      if (++middle == 256) {
        middle = 0;
        top = (top + 1) & 0xFF;
      }
    }
  };
  nextBottom();
  for (;;) {
    const auto& mid = m_top[top];
    if (!mid) {
      top = (top + 1) & 0xFF;
      middle = bottom = 0;
      continue;
    }
    const auto& bot = (*mid)[middle];
    if (!bot) {
      bottom = 255;  // the carry moves on to the next middle index with bottom 0
      nextBottom();
      continue;
    }
    if (!(*bot)[bottom]) {
      nextBottom();
      continue;
    }
    return;
  }
}

std::uint32_t CFlashImage::NextSetAddress(std::uint32_t address) const {
  if (m_count == 0) return address;  // nothing to find; see the header

  std::uint32_t candidate = address + 1;  // wraps from 0xFFFFFFFF to 0
  unsigned offset = candidate & 0xFF;
  for (;;) {
    // The rest of the current page, byte by byte, whether or not the page exists.
    for (; offset < 256; ++offset, ++candidate)
      if (IsSet(candidate)) return candidate;
    // `candidate` has moved one past the page; its indexes are those of the page just done.
    const std::uint32_t done = candidate - 256;
    unsigned top = done >> 24, middle = (done >> 16) & 0xFF, bottom = (done >> 8) & 0xFF;
    AdvanceToNextPage(top, middle, bottom);
    candidate = (top << 24) | (middle << 16) | (bottom << 8);
    offset = 0;
  }
}

}  // namespace cvm6
