#include "showmodel/kvSlideOrder.h"

#include <map>
#include <mutex>
#include <string>

#include "foundation/kpExceptions.h"

namespace showmodel {

namespace {

struct OrderTables {
  std::mutex Lock;
  // Project path -> its table. Never destroyed: the
  // loader and music threads may still ask while the process exits.
  std::map<std::u16string, TSlideRandomList*> Tables;
};

OrderTables& Tables() {
  static OrderTables* tables = new OrderTables();
  return *tables;
}

// Slide numbers are kept below this: a section name needs n + 1 to exist.
constexpr int32_t kMaxSlideIndex = 0x7FFFFFFE;

std::u16string SlideName(int64_t number) {
  std::u16string out = u"Slide";
  for (char c : std::to_string(number)) out += char16_t(c);
  return out;
}

}  // namespace

TSlideRandomList::TSlideRandomList(const foundation::TIniFile* Ini) {
  QEL_ASSERT(Ini && foundation::TIniFile::FindSection(Ini, u"Main"), "TSlideRandomList: the project has no Main");
  const int32_t count = foundation::IniReadInteger(Ini, u"Times", u"opt_slidescount", 0);
  // The table grows on demand, so a hostile count costs nothing up front.
  for (int32_t k = 0; k < count && k < 100000; ++k) Order.push_back(k);
}

foundation::TIniSection* GetSlideSection(const foundation::TIniFile* Ini, int32_t i) {
  QEL_ASSERT(Ini, "GetSlideSection: no project");
  if (i < 0 || i > kMaxSlideIndex) return nullptr;
  const std::u16string key = foundation::IniReadString(Ini, u"Main", u"ProjectFilePath", u"");
  int32_t number = i;
  if (!key.empty()) {
    OrderTables& t = Tables();
    std::lock_guard<std::mutex> guard(t.Lock);
    TSlideRandomList*& list = t.Tables[key];
    if (!list) {
      // A project without Main cannot have a ProjectFilePath, so the
      // assertion of the table never fires here.
      list = new TSlideRandomList(Ini);
    }
    // Growing to i + 1 entries; slide numbers beyond those shown are the
    // identity, so only the entries up to i are ever stored.
    if (size_t(i) >= list->Order.size()) {
      // A far index (a hostile count) is answered without storing the run up to it.
      if (i - int64_t(list->Order.size()) > 100000) return foundation::TIniFile::FindSection(Ini, SlideName(int64_t(i) + 1));
      while (list->Order.size() <= size_t(i)) list->Order.push_back(int32_t(list->Order.size()));
    }
    number = list->Order[size_t(i)];
  }
  return foundation::TIniFile::FindSection(Ini, SlideName(int64_t(number) + 1));
}

int32_t SlideOrderTableCount() {
  OrderTables& t = Tables();
  std::lock_guard<std::mutex> guard(t.Lock);
  return int32_t(t.Tables.size());
}

int32_t SlideOrderLength(const std::u16string& projectPath) {
  OrderTables& t = Tables();
  std::lock_guard<std::mutex> guard(t.Lock);
  auto it = t.Tables.find(projectPath);
  return it == t.Tables.end() ? -1 : int32_t(it->second->Order.size());
}

}  // namespace showmodel
