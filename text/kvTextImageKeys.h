// Text-image keys: the "Text: " key that names every parameter of a text
// image and its lines, the "VectTxt2: " key of the laid-out vector text
// derived from it, the style text, the quoting of lines and the case markup
// that keeps the lines' letter case through case-insensitive names.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kvStrings.h"
#include "text/GraphicsParams.h"
#include "text/kvTextProducer2.h"

namespace text {

inline constexpr char16_t TextImageKeyPrefix[] = u"Text: ";
inline constexpr char16_t VectTextKeyPrefix[] = u"VectTxt2: ";

// "Text: " FontName:Scale:OffsetX:OffsetY:style:Alignment:Scale2:LineSpacing:"lines"
// (the lines are used as given: callers pass them case-marked).
void MakeTextImageKey(std::u16string& Key, foundation::TStringList* Lines, const TTextParams& Params);
// Fields that do not convert keep their default; the last field takes the
// rest of the key, colons included.
void ParseTextImageKey(const std::u16string& Key, foundation::TStringList* Lines, TTextParams& Params);
// "VectTxt2: " FontName:style:"lines" from a "Text: " key.
void MakeVectTextKey(std::u16string& Key, const std::u16string& TextKey);
// Name and style into Font (its other fields stay), the lines into Lines.
void ParseVectTextKey(const std::u16string& Key, foundation::TStringList* Lines, TFontParams& Font);

std::u16string QuoteLines(foundation::TStringList* Lines);
// Empties Lines, drops one leading and one trailing double quote (texts
// longer than one character) and adds the lines, which end at CR, LF,
// CR LF or LF CR.
void SplitQuotedLines(const std::u16string& Text, foundation::TStringList* Lines);

// "Bold", "Italic", "Underline", "StrikeOut" of the set bits, joined by ",".
std::u16string StyleText(uint8_t Bits);
// Items split at "," and matched exactly.
uint8_t ParseStyleText(const std::u16string& Text);

// Every maximal run of characters that lower-casing changes enclosed in
// "<" and ">"; a literal "<" written "<<" and ">" written ">>".
std::u16string EncodeCaseMarkupLine(const std::u16string& Line);
// A new list with every line marked (the caller owns it).
foundation::TStringList* EncodeCaseMarkup(foundation::TStringList* Lines);
void DecodeCaseMarkup(std::u16string& Out, const std::u16string& Text);

}  // namespace text
