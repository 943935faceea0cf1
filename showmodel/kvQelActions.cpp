#include "showmodel/kvQelActions.h"

#include <limits>

namespace showmodel {

namespace {

// Lower case for the ASCII letters the action words are made of; other
// characters stay, so no other text can match a word.
std::u16string AsciiLower(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return out;
}

// A decimal integer with an optional sign and nothing else (no blanks).
bool ReadDecimal(std::u16string_view s, int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  if (i == s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return false;
    v = v * 10 + (s[i] - u'0');
    if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1) return false;
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
  value = int32_t(v);
  return true;
}

struct Word {
  std::u16string_view text;
  int32_t code;
};

constexpr Word kPlainWords[] = {
    {u"exit", acExit},           {u"nextslide", acNextSlide},     {u"prevslide", acPrevSlide},
    {u"help", acHelp},           {u"gotofirstslide", acGotoSlide}, {u"pause", acPause},
    {u"print", acPrint},         {u"stop", acStop},               {u"closedialog", acCloseDialog},
    {u"saveslide", acSaveSlide}, {u"changeprinter", acChangePrinter},
};

constexpr Word kArgumentWords[] = {
    {u"gotoslide(", acGotoSlide},
    {u"openwebsite(", acOpenWebSite},
    {u"writeemail(", acWriteEmail},
    {u"runapp(", acRunApp},
    {u"runappandexit(", acRunAppAndExit},
    {u"runpresentation(", acRunPresentation},
    {u"runpresentationandreturn(", acRunPresentationAndReturn},
    {u"opendialog(", acOpenDialog},
};

}  // namespace

TQelActionInfo ParseAction(std::u16string_view text) {
  TQelActionInfo info;
  const std::u16string lower = AsciiLower(text);
  for (const Word& w : kPlainWords)
    if (lower == w.text) {
      info.Action = w.code;
      return info;
    }
  for (const Word& w : kArgumentWords) {
    if (lower.compare(0, w.text.size(), w.text) != 0) continue;
    info.Action = w.code;
    const size_t after = w.text.size();
    if (w.code == acGotoSlide) {
      // Everything after "(" but the closing parenthesis.
      if (text.size() > after) info.Text = std::u16string(text.substr(after, text.size() - after - 1));
      if (!ReadDecimal(info.Text, info.Index)) info.Index = -1;
    } else if (text.size() >= after + 3) {
      // Past the opening quote, before the closing quote and parenthesis.
      info.Text = std::u16string(text.substr(after + 1, text.size() - after - 3));
    }
    return info;
  }
  return info;
}

}  // namespace showmodel
