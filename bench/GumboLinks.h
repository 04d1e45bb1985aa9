#pragma once
// The peer of the scan benchmark: a link extractor built on gumbo, an HTML5
// parser that builds the whole document tree. It reads the same tags and
// attributes as the crawl's link table and counts each value it finds.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

using TGumboCounts = std::unordered_map<std::string, std::size_t>;

// Adds every address attribute of the page to counts; returns how many it
// found.
std::size_t GumboLinks(std::string_view page, TGumboCounts& counts);
