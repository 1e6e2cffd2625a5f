#pragma once
/// The canned-text list's rules, apart from its window: accepting an edited or new text.

#include <string>
#include <vector>

namespace gallery {

/// True when `text` equals (case-sensitively) a text of the list other than `except`
/// (-1: none excepted).
bool IsDuplicateText(const std::vector<std::u16string>& texts, const std::u16string& text, int except);

/// Accepts an editor's text: an edit (`edited` >= 0) removes the text it changed, and the
/// new or changed text goes to the end of the list. Returns its index, or -1 when it is a
/// duplicate (the list is then unchanged).
int AcceptText(std::vector<std::u16string>* texts, const std::u16string& text, int edited);

}  // namespace gallery
