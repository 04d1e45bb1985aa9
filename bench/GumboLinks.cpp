#include "GumboLinks.h"

#include <gumbo.h>

#include <array>
#include <vector>

namespace {

struct TGumboRow {
    GumboTag Tag;
    const char* Attribute;
};

constexpr std::array<TGumboRow, 25> Rows{{
    {GUMBO_TAG_A, "href"},           {GUMBO_TAG_AREA, "href"},   {GUMBO_TAG_FRAME, "src"},
    {GUMBO_TAG_IMG, "src"},          {GUMBO_TAG_INPUT, "src"},   {GUMBO_TAG_BODY, "background"},
    {GUMBO_TAG_TABLE, "background"}, {GUMBO_TAG_AREA, "usemap"}, {GUMBO_TAG_MAP, "usemap"},
    {GUMBO_TAG_OBJECT, "usemap"},    {GUMBO_TAG_EMBED, "src"},   {GUMBO_TAG_IFRAME, "src"},
    {GUMBO_TAG_BGSOUND, "src"},      {GUMBO_TAG_SCRIPT, "src"},  {GUMBO_TAG_OBJECT, "data"},
    {GUMBO_TAG_APPLET, "code"},      {GUMBO_TAG_LINK, "href"},   {GUMBO_TAG_IMG, "srcset"},
    {GUMBO_TAG_SOURCE, "srcset"},    {GUMBO_TAG_VIDEO, "src"},   {GUMBO_TAG_AUDIO, "src"},
    {GUMBO_TAG_SOURCE, "src"},       {GUMBO_TAG_TRACK, "src"},   {GUMBO_TAG_VIDEO, "poster"},
    {GUMBO_TAG_META, "content"},
}};

} // namespace

std::size_t GumboLinks(std::string_view page, TGumboCounts& counts) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    std::size_t found = 0;
    std::vector<const GumboNode*> pending{output->root};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        const GumboElement& element = node->v.element;
        for (const TGumboRow& row : Rows) {
            if (row.Tag != element.tag)
                continue;
            if (const GumboAttribute* a = gumbo_get_attribute(&element.attributes, row.Attribute)) {
                ++counts[a->value];
                ++found;
            }
        }
        for (unsigned i = element.children.length; i > 0; --i)
            pending.push_back(static_cast<const GumboNode*>(element.children.data[i - 1]));
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return found;
}
