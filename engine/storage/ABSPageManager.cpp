#include "engine/storage/ABSPageManager.h"

#include <algorithm>
#include <cassert>

#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"

TABSPageManager::TABSPageManager(const TABSPageGeometry& geometry) : geometry_(geometry) {
  const std::int64_t available = EngineMemoryManager.GetAvailableMemory();
  cacheCapacity_ =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(available / 65536, 0, MaxCacheCapacity));
}

TABSPageManager::~TABSPageManager() {
  DropAllPages();
}

// --- Base behaviour of the overridable operations ---------------------------

bool TABSPageManager::IsPageCurrent(std::int32_t /*sessionId*/, const TABSPage& /*page*/) {
  return false;
}
void TABSPageManager::PageLoaded(std::int32_t /*sessionId*/, TABSPage& /*page*/) {}
void TABSPageManager::LoadFromStream(TABSStream& /*stream*/) {}
void TABSPageManager::SaveToStream(TABSStream& /*stream*/) {}
void TABSPageManager::ReserveStore(std::int32_t /*count*/) {}
void TABSPageManager::CheckReleasePageNo(std::int32_t /*pageNo*/) const {}
void TABSPageManager::CheckWritePage(const TABSPage& /*page*/) const {}

// --- Sessions ----------------------------------------------------------------

TABSPageManager::Session* TABSPageManager::FindSession(std::int32_t sessionId) const noexcept {
  if (lastSession_ != nullptr && lastSession_->SessionId == sessionId) return lastSession_;
  for (const auto& session : sessions_) {
    if (session->SessionId == sessionId) {
      lastSession_ = session.get();
      return lastSession_;
    }
  }
  return nullptr;
}

TABSPageManager::Session& TABSPageManager::FindOrAddSession(std::int32_t sessionId) {
  if (Session* found = FindSession(sessionId)) return *found;
  auto session = std::make_unique<Session>();
  session->SessionId = sessionId;
  sessions_.push_back(std::move(session));
  lastSession_ = sessions_.back().get();
  return *lastSession_;
}

void TABSPageManager::NotePending(Session& session) noexcept {
  const bool has = session.HasWork();
  if (has != session.CountedPending) {
    pendingSessions_ += has ? 1 : -1;
    session.CountedPending = has;
  }
}

// --- Page objects, the live-page index and the cache order ---------------------

std::unique_ptr<TABSPage> TABSPageManager::NewPage() {
  return std::make_unique<TABSPage>(*this);
}

TABSPage* TABSPageManager::LivePage(std::int32_t pageNo) const noexcept {
  if (pageNo < 0 || static_cast<std::size_t>(pageNo) >= livePages_.size()) return nullptr;
  return livePages_[static_cast<std::size_t>(pageNo)];
}

const TABSPage* TABSPageManager::FindLivePage(std::int32_t pageNo) const noexcept {
  return LivePage(pageNo);
}

bool TABSPageManager::IsPageCached(std::int32_t pageNo) const noexcept {
  const TABSPage* page = LivePage(pageNo);
  return page != nullptr && page->inCache_;
}

void TABSPageManager::EnsureIndexRoom(std::int32_t pageNo) {
  if (static_cast<std::size_t>(pageNo) >= livePages_.size()) {
    livePages_.resize(static_cast<std::size_t>(pageNo) + 1, nullptr);
  }
}

void TABSPageManager::IndexPage(TABSPage* page) noexcept {
  livePages_[static_cast<std::size_t>(page->pageNo_)] = page;
  ++livePageCount_;
}

void TABSPageManager::UnindexPage(TABSPage* page) noexcept {
  TABSPage*& slot = livePages_[static_cast<std::size_t>(page->pageNo_)];
  if (slot == page) {
    slot = nullptr;
    --livePageCount_;
  }
}

void TABSPageManager::CacheInsert(TABSPage* page) noexcept {
  page->lruOlder_ = lruNewest_;
  page->lruNewer_ = nullptr;
  if (lruNewest_ != nullptr) {
    lruNewest_->lruNewer_ = page;
  } else {
    lruOldest_ = page;
  }
  lruNewest_ = page;
  page->inCache_ = true;
  page->ownerList_ = nullptr;
  ++cacheCount_;
  if (page->useCount_ > 0) ++cachePagesInUse_;
}

void TABSPageManager::CacheRemove(TABSPage* page) noexcept {
  if (page->lruOlder_ != nullptr) {
    page->lruOlder_->lruNewer_ = page->lruNewer_;
  } else {
    lruOldest_ = page->lruNewer_;
  }
  if (page->lruNewer_ != nullptr) {
    page->lruNewer_->lruOlder_ = page->lruOlder_;
  } else {
    lruNewest_ = page->lruOlder_;
  }
  page->lruOlder_ = page->lruNewer_ = nullptr;
  page->inCache_ = false;
  --cacheCount_;
  if (page->useCount_ > 0) --cachePagesInUse_;
}

void TABSPageManager::CacheTouch(TABSPage* page) noexcept {
  if (page == lruNewest_) return;
  CacheRemove(page);
  CacheInsert(page);
}

void TABSPageManager::DestroyPage(TABSPage* page) noexcept {
  if (page->inCache_) CacheRemove(page);
  if (page->useCount_ > 0) --pagesInUse_;
  UnindexPage(page);
  delete page;
}

void TABSPageManager::DropAllPages() noexcept {
  ++revertCount_;
  for (TABSPage*& page : livePages_) {
    delete page;
    page = nullptr;
  }
  livePages_.clear();
  livePageCount_ = 0;
  lruOldest_ = lruNewest_ = nullptr;
  cacheCount_ = 0;
  pagesInUse_ = 0;
  cachePagesInUse_ = 0;
  for (auto& session : sessions_) {
    session->Modified.Clear();
    session->Allocated.clear();
    session->Freed.clear();
    session->CountedPending = false;
  }
  pendingSessions_ = 0;
}

void TABSPageManager::TakeUse(TABSPage* page, std::int32_t sessionId) noexcept {
  if (page->useCount_++ == 0) {
    ++pagesInUse_;
    if (page->inCache_) ++cachePagesInUse_;
  }
  page->sessionId_ = sessionId;
}

// --- Session operations --------------------------------------------------------

void TABSPageManager::ReservePages(std::int32_t sessionId, std::int32_t count) {
  if (count <= 0) return;
  Session& session = FindOrAddSession(sessionId);
  session.Modified.ReserveForAdd(cachePagesInUse_ + count);
  session.Allocated.reserve(session.Allocated.size() + static_cast<std::size_t>(count));
  ReserveStore(count);
}

TABSPage* TABSPageManager::AddNewPage(std::int32_t sessionId, std::uint16_t pageType) {
  Session& session = FindOrAddSession(sessionId);
  // Everything that needs memory comes before the page number is taken; the
  // number is given back if the little that follows fails.
  const bool listWasEmpty = session.Modified.Capacity() == 0;
  session.Modified.ReserveForAdd(cachePagesInUse_ + 1);
  std::unique_ptr<TABSPage> page = NewPage();
  try {
    session.Allocated.reserve(session.Allocated.size() + 1);
    AllocatePage(*page);
  } catch (...) {
    // The list's first arrays go again, so a failed call leaves no memory.
    if (listWasEmpty) session.Modified.SetCount(0);
    throw;
  }
  const std::int32_t pageNo = page->pageNo_;
  if (pageNo == -1) {
    if (listWasEmpty) session.Modified.SetCount(0);
    throw EABSException(20064, "Invalid page number");
  }
  try {
    EnsureIndexRoom(pageNo);
    if (TABSPage* old = LivePage(pageNo)) {
      // A cached copy of a number that was free: it is stale, drop it. A copy
      // in use or on another session's list means the number is not free.
      if (!old->inCache_ || old->IsInUse()) {
        throw EABSException(20090, "Page is used by other session");
      }
      DestroyPage(old);
    }
  } catch (...) {
    ReleasePageNo(pageNo);
    if (listWasEmpty) session.Modified.SetCount(0);
    throw;
  }
  // A page header starts with the page type (GetPage checks it) and a
  // random stamp; a memory page has no header.
  const std::uint16_t headerSize = page->buffer_ != nullptr ? geometry_.PageHeaderSize : 0;
  if (headerSize >= 2) StoreLE<std::uint16_t>(page->buffer_, pageType);
  if (headerSize >= 6) {
    headerStamp_ ^= headerStamp_ << 13;
    headerStamp_ ^= headerStamp_ >> 17;
    headerStamp_ ^= headerStamp_ << 5;
    StoreLE<std::int32_t>(page->buffer_ + 2, static_cast<std::int32_t>(headerStamp_ % 1073741823u));
  }
  TABSPage* raw = page.release();
  TakeUse(raw, sessionId);
  raw->modified_ = true;
  raw->ownerList_ = &session.Modified;
  session.Modified.AddPage(raw);  // room reserved above
  session.Allocated.push_back(pageNo);
  IndexPage(raw);
  NotePending(session);
  return raw;
}

TABSPage* TABSPageManager::GetPage(std::int32_t sessionId, std::int32_t pageNo, bool recheck,
                                   std::uint16_t expectedType) {
  if (sessionId == InvalidSessionId) throw EABSException(20186, "Invalid Session ID");
  Session& session = FindOrAddSession(sessionId);
  session.Modified.ReserveForAdd(cachePagesInUse_ + 1);
  TABSPage* page = LivePage(pageNo);
  if (page != nullptr) {
    if (page->ownerList_ != nullptr && page->ownerList_ != &session.Modified) {
      // Held uncommitted by another session: a second copy would let both
      // write the same page.
      throw EABSException(20090, "Page is used by other session");
    }
    if (page->inCache_ && recheck && !IsPageCurrent(sessionId, *page)) {
      PageLoaded(sessionId, *page);  // a memory page needs no refresh
    }
  } else {
    // Read into a page object of its own first; it joins the cache only
    // once it was read and checked, so a failure leaves nothing behind.
    std::unique_ptr<TABSPage> fresh = NewPage();
    fresh->pageNo_ = pageNo;
    fresh->sessionId_ = sessionId;
    if (!ReadPage(*fresh)) {
      throw EABSException(20299, "Error reading database file page. Page No: %d, type %d",
                          {pageNo, static_cast<std::int32_t>(expectedType)});
    }
    if (!DisablePageTypeCheck && geometry_.PageHeaderSize >= 2 && expectedType != AnyPageType) {
      // The disk header starts with the page type.
      const std::uint16_t found = LoadLE<std::uint16_t>(fresh->buffer_);
      if (found != expectedType) {
        throw EABSException(
            20153,
            "Invalid page type. Possible data corruption. Expecting type %d, but "
            "found %d",
            {static_cast<std::int32_t>(expectedType), static_cast<std::int32_t>(found)});
      }
    }
    PageLoaded(sessionId, *fresh);
    if (pageNo < 0) throw EABSException(20064, "Invalid page number");
    EnsureIndexRoom(pageNo);
    page = fresh.release();
    CacheInsert(page);
    IndexPage(page);
  }
  if (page->IsInUse() && page->sessionId_ != sessionId) {
    throw EABSException(20090, "Page is used by other session");
  }
  TakeUse(page, sessionId);
  return page;
}

void TABSPageManager::PutPage(TABSPage* page) noexcept {
  assert(page->useCount_ > 0 && "every page is put back exactly once");
  if (page->useCount_ <= 0) return;  // an unbalanced put leaves the count at 0
  if (--page->useCount_ == 0) {
    --pagesInUse_;
    if (page->inCache_) {
      --cachePagesInUse_;
      if (page->modified_) {
        Session* session = FindSession(page->sessionId_);
        if (session != nullptr) {
          CacheRemove(page);
          session->Modified.AddPage(page);  // room kept by GetPage
          page->ownerList_ = &session->Modified;
          NotePending(*session);
        }
      } else {
        CacheTouch(page);
      }
    }
  }
  if (!page->inCache_ || cacheCount_ <= cacheCapacity_) return;
  EvictOne();
}

void TABSPageManager::EvictOne() noexcept {
  // Only the least recently used page may leave, and only when no one uses
  // it: the cache then stays above its capacity until a later put.
  TABSPage* oldest = lruOldest_;
  if (oldest != nullptr && !oldest->IsInUse()) DestroyPage(oldest);
}

void TABSPageManager::FreePage(std::int32_t sessionId, std::int32_t pageNo) {
  Session& session = FindOrAddSession(sessionId);
  session.Freed.push_back(pageNo);
  NotePending(session);
}

void TABSPageManager::CommitPendingPages(std::int32_t sessionId) {
  // Checks: everything that can raise, before anything changes.
  if (cachePagesInUse_ > 0) {
    for (const TABSPage* p = lruOldest_; p != nullptr; p = p->lruNewer_) {
      if (p->sessionId_ == sessionId && p->IsInUse()) {
        throw EABSException(20152, "Some session pages not released");
      }
    }
  }
  Session* session = FindSession(sessionId);
  if (session == nullptr) return;
  for (const std::int32_t pageNo : session->Freed) {
    CheckReleasePageNo(pageNo);
    const TABSPage* page = LivePage(pageNo);
    if (page != nullptr && page->IsInUse()) {
      if (page->ownerList_ == &session->Modified) {
        throw EABSException(20086, "Cannot write used page");
      }
      if (page->inCache_) throw EABSException(20090, "Page is used by other session");
    }
  }
  TABSSortedPageList& modified = session->Modified;
  for (std::int32_t i = 0; i < modified.Count(); ++i) {
    const TABSPage* page = modified.PageAt(i);
    if (std::find(session->Freed.begin(), session->Freed.end(), page->pageNo_) !=
        session->Freed.end()) {
      continue;  // destroyed below, never written
    }
    if (!page->modified_) throw EABSException(20085, "Invalid page");
    if (page->IsInUse()) throw EABSException(20086, "Cannot write used page");
    CheckWritePage(*page);
  }

  // Acting: nothing below raises for a manager whose checks match its
  // ReleasePageNo and WritePage.
  // Freed pages on the modified list are only unhooked here and destroyed
  // in the walk below: deleting them from the list could shrink it below
  // the room PutPage counts on.
  for (const std::int32_t pageNo : session->Freed) {
    ReleasePageNo(pageNo);
    TABSPage* page = LivePage(pageNo);
    if (page == nullptr) continue;
    if (page->ownerList_ == &modified) {
      page->ownerList_ = nullptr;
    } else if (page->inCache_) {
      DestroyPage(page);
    }
  }
  session->Freed.clear();
  session->Allocated.clear();
  for (std::int32_t i = 0; i < modified.Count(); ++i) {
    TABSPage* page = modified.PageAt(i);
    if (page->ownerList_ == nullptr) {
      DestroyPage(page);  // freed above
      continue;
    }
    WritePage(*page);
    page->modified_ = false;
    page->ownerList_ = nullptr;
    if (cacheCount_ < cacheCapacity_) {
      CacheInsert(page);
    } else {
      DestroyPage(page);
    }
  }
  modified.Clear();
  NotePending(*session);
}

void TABSPageManager::DiscardSessionPages(std::int32_t sessionId) {
  ++revertCount_;
  Session* session = FindSession(sessionId);
  if (session == nullptr) return;
  TABSSortedPageList& modified = session->Modified;
  for (std::int32_t i = 0; i < modified.Count(); ++i) {
    const TABSPage* page = modified.PageAt(i);
    if (!page->modified_) throw EABSException(20087, "Invalid index page");
    if (page->IsInUse()) throw EABSException(20088, "Cannot remove used page");
  }
  for (const std::int32_t pageNo : session->Allocated) CheckReleasePageNo(pageNo);

  for (std::int32_t i = 0; i < modified.Count(); ++i) {
    TABSPage* page = modified.PageAt(i);
    page->ownerList_ = nullptr;
    DestroyPage(page);
  }
  modified.Clear();
  for (const std::int32_t pageNo : session->Allocated) ReleasePageNo(pageNo);
  session->Allocated.clear();
  session->Freed.clear();
  NotePending(*session);
}

void TABSPageManager::CheckAllCommitted() const {
  for (const auto& session : sessions_) {
    if (session->Modified.Count() != 0) {
      throw EABSException(20097, "Cannot free non-commited pages");
    }
  }
}

// --- Inspection ----------------------------------------------------------------

std::vector<std::int32_t> TABSPageManager::CacheOrder() const {
  std::vector<std::int32_t> order;
  for (const TABSPage* p = lruOldest_; p != nullptr; p = p->lruNewer_) order.push_back(p->pageNo_);
  return order;
}

const TABSSortedPageList* TABSPageManager::SessionModifiedList(
    std::int32_t sessionId) const noexcept {
  const Session* session = FindSession(sessionId);
  return session != nullptr ? &session->Modified : nullptr;
}

std::vector<std::int32_t> TABSPageManager::SessionAllocatedPages(std::int32_t sessionId) const {
  const Session* session = FindSession(sessionId);
  return session != nullptr ? session->Allocated : std::vector<std::int32_t>{};
}

std::vector<std::int32_t> TABSPageManager::SessionFreedPages(std::int32_t sessionId) const {
  const Session* session = FindSession(sessionId);
  return session != nullptr ? session->Freed : std::vector<std::int32_t>{};
}
