#pragma once
// Lists kept as one comma text in profile keys. An item holding a blank or
// control character, a comma or a double quote is quoted with inner quotes
// doubled; a list of exactly one empty item is "".
#include <string>
#include <vector>

std::string ToCommaText(const std::vector<std::string>& items);
std::vector<std::string> FromCommaText(const std::string& text);
