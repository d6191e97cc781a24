#include "settings/InputItem.hpp"

namespace orv {
namespace {

bool isBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

// Consumes one line end at pos, if there is one there.
bool consumeLineEnd(std::string_view text, std::size_t& pos) {
    if (pos >= text.size()) return false;
    if (text[pos] == '\n') {
        ++pos;
        return true;
    }
    if (text[pos] == '\r') {
        ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
        return true;
    }
    return false;
}

}  // namespace

std::string readInputItem(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && isBlankOrTab(text[pos])) ++pos;
    std::string item;
    if (pos < text.size() && text[pos] == '"') {
        ++pos;
        while (pos < text.size() && text[pos] != '"' && text[pos] != '\n' && text[pos] != '\r') {
            if (item.size() == kMaxItemLength) return item;
            item.push_back(text[pos++]);
        }
        if (consumeLineEnd(text, pos)) return item;
        if (pos < text.size()) ++pos;  // the closing quote
        while (pos < text.size() && isBlankOrTab(text[pos])) ++pos;
        if (pos < text.size() && text[pos] == ',')
            ++pos;
        else
            consumeLineEnd(text, pos);
        return item;
    }
    while (pos < text.size() && text[pos] != ',' && text[pos] != '\n' && text[pos] != '\r') {
        if (item.size() == kMaxItemLength) return item;
        item.push_back(text[pos++]);
    }
    if (pos < text.size() && text[pos] == ',')
        ++pos;
    else
        consumeLineEnd(text, pos);
    return item;
}

std::string firstInputItem(std::string_view line) {
    std::size_t pos = 0;
    return readInputItem(line, pos);
}

}  // namespace orv
