#include "updater/HostileDocuments.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/TestDigest.h"
#include "updater/XmlLimits.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// A document as a tree, so that whole elements and attributes can be mutated before it is
// written out as bytes.
struct Node {
    std::string tag;
    Attributes attributes;
    std::vector<Node> children;
    std::string text;  // before the children
    int wrap = 0;      // levels of <n> around the children: deep nesting without a deep tree
};

Node Element(const std::string& tag, Attributes attributes, std::vector<Node> children = {}) {
    return Node{tag, std::move(attributes), std::move(children), "\n", 0};
}

void Write(const Node& node, std::string& out) {
    out += "<" + node.tag;
    for (const auto& attribute : node.attributes)
        out += " " + attribute.first + "=\"" + attribute.second + "\"";
    if (node.children.empty() && node.wrap == 0) {
        out += "/>";
        return;
    }
    out += ">" + node.text;
    for (int i = 0; i < node.wrap; ++i) out += "<n>";
    for (const Node& child : node.children) Write(child, out);
    for (int i = 0; i < node.wrap; ++i) out += "</n>";
    out += "</" + node.tag + ">";
}

Node ManifestSeed() {
    return Element(
        "root", {{"start", "1"}, {"url", "http://h/r.7z"}, {"version", "5"}},
        {Element("game", {{"name", "3"}, {"start", "0"}, {"url", "u3"}, {"version", "3"}}),
         Element("game", {{"name", "7"}, {"start", "0"}, {"url", "u7"}, {"version", "6"}},
                 {Element("area", {{"name", "30"},
                                   {"group", "9"},
                                   {"start", "2"},
                                   {"url", "u9"},
                                   {"version", "8"}}),
                  Element("area", {{"name", "30"},
                                   {"group", "2"},
                                   {"start", "1"},
                                   {"url", "http://h/a.7z"},
                                   {"version", "7"}})})});
}

Node CheckFile(const std::string& name, const std::string& content) {
    return Element("file", {{"name", name},
                            {"md5", Md5Text(content)},
                            {"remote_file_url", "http://127.0.0.1:8008/f/" + name}});
}

Node CheckListSeed() {
    return Element("root", {{"version", "2"}},
                   {CheckFile("good.txt", kGoodFileContent),
                    CheckFile("sub/deep.bin", kDeepFileContent), CheckFile("missing.txt", "x")});
}

// What may precede the root: nothing, declarations that choose an encoding, a byte-order
// mark, a comment.
const char* const kPrologs[] = {
    "",
    "<?xml version=\"1.0\"?>\n",
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
    "<?xml version=\"1.0\" encoding=\"GBK\"?>\n",
    "\xEF\xBB\xBF",
    "<!-- list -->\n",
};

// Attribute values and element texts: names that would leave the installation, devices,
// streams, entities, bytes that are no UTF-8, markup characters.
const char* const kHostileValues[] = {
    "",
    "7",
    "30",
    "2",
    "..\\x.txt",
    "../x.txt",
    "sub/../../x.txt",
    "C:\\x.txt",
    "C:x.txt",
    "\\\\server\\share\\x.txt",
    "\\\\?\\C:\\x.txt",
    "\\x.txt",
    "/x.txt",
    "CON",
    "nul.txt",
    "COM1",
    "LPT9.log",
    "good.txt:stream",
    "sub\\",
    "...",
    ". /x",
    "a\x01"
    "b",
    "\xE9t\xE9.txt",
    "\xC3",
    "\xF0\x9F\x98",
    "\xFF\xFE",
    "&lt;&gt;&amp;&quot;",
    "&#0;",
    "&#x5C;..&#x5C;x",
    "&#xFFFFFFFF;",
    "'",
    "\"",
    "x/>",
    "<n>",
    "</root>",
};

const char* const kTags[] = {"root", "game", "area", "file", "other", "n", "_", "1x"};
const char* const kAttributeNames[] = {"name", "md5",     "remote_file_url", "start",
                                       "url",  "version", "group",           "x"};

// Markup fragments for insertion anywhere in the bytes.
const char* const kTokens[] = {
    "<",
    ">",
    "\"",
    "'",
    "/>",
    "</",
    "</root>",
    "<n>",
    "</n>",
    "<!--",
    "-->",
    "<![CDATA[",
    "]]>",
    "<?",
    "?>",
    "<!DOCTYPE x>",
    "<?xml version=\"1.0\"?>",
    "<?xml version='>'?>",
    "<1 x='>",
    "< a>",
    "&",
    "&#x41;",
    "&#;",
    "\xC3",
    "\xE2\x82",
    "\xF0",
    "\xFF",
    "\xEF\xBB\xBF",
};

struct Place {
    Node* node;
    Node* parent;
    size_t index;
    int depth;  // the root is at depth 1
};

void Collect(Node& node, Node* parent, size_t index, int depth, std::vector<Place>& places) {
    places.push_back({&node, parent, index, depth});
    for (size_t i = 0; i < node.children.size(); ++i)
        Collect(node.children[i], &node, i, depth + 1, places);
}

int Height(const Node& node) {
    int height = 0;
    for (const Node& child : node.children) height = std::max(height, Height(child));
    return node.wrap + 1 + height;
}

std::string HostileValue(FuzzRandom& random) {
    if (!random.OneIn(8)) return random.Pick(kHostileValues);
    // Huge values, some far past the document limit.
    const size_t sizes[] = {4096, 70000, 700000, kMaxXmlDocumentBytes + 1};
    std::string unit = random.OneIn(2) ? "A" : std::string("..\\");
    std::string value;
    for (size_t size = random.Pick(sizes); value.size() < size;) value += unit;
    return value;
}

void MutateTree(FuzzRandom& random, Node& root) {
    std::vector<Place> places;
    Collect(root, nullptr, 0, 1, places);
    Place at = places[random.Below(places.size())];
    Node& node = *at.node;
    Attributes& attributes = node.attributes;
    switch (random.Below(10)) {
        case 0:  // duplicate the element, once or up to a hundred times
            if (at.parent != nullptr) {
                Node copy = node;
                size_t copies = random.OneIn(8) ? 20 + random.Below(100) : 1;
                at.parent->children.insert(at.parent->children.begin() + at.index + 1, copies,
                                           copy);
            }
            break;
        case 1:
            if (at.parent != nullptr)
                at.parent->children.erase(at.parent->children.begin() + at.index);
            break;
        case 2:
            if (!attributes.empty())
                attributes.erase(attributes.begin() + random.Below(attributes.size()));
            break;
        case 3:
            if (!attributes.empty())
                attributes.push_back(attributes[random.Below(attributes.size())]);
            break;
        case 4:
            if (!attributes.empty())
                attributes[random.Below(attributes.size())].second = HostileValue(random);
            break;
        case 5:
            node.tag = random.Pick(kTags);
            break;
        case 6:
            if (!attributes.empty())
                attributes[random.Below(attributes.size())].first = random.Pick(kAttributeNames);
            break;
        case 7: {  // nesting just below, at and above the limit, and far above it
            const int targets[] = {kMaxXmlDepth - 1, kMaxXmlDepth, kMaxXmlDepth + 1,
                                   kMaxXmlDepth + 2, 200,          5000};
            int below = Height(node) - node.wrap - 1;  // levels of real children
            node.wrap = std::max(0, random.Pick(targets) - at.depth - below);
            break;
        }
        case 8:
            node.text = HostileValue(random);
            break;
        default:
            attributes.push_back({random.Pick(kAttributeNames), HostileValue(random)});
            break;
    }
}

void MutateBytes(FuzzRandom& random, std::string& bytes) {
    switch (random.Below(6)) {
        case 0:
            random.FlipBits(bytes, 0, bytes.size(), 1 + random.Below(8));
            break;
        case 1:
            random.Insert(bytes, random.Pick(kTokens));
            break;
        case 2: {
            std::string junk;
            for (size_t n = 1 + random.Below(4); n > 0; --n) junk += random.Byte();
            random.Insert(bytes, junk);
            break;
        }
        case 3:
            random.Erase(bytes, 16);
            break;
        case 4:
            random.Truncate(bytes);
            break;
        default:  // blanks after the root up to the size limit, or just past it
            if (random.OneIn(4)) bytes.resize(kMaxXmlDocumentBytes + random.Below(2), ' ');
            break;
    }
}

}  // namespace

std::string HostileDocument(FuzzRandom& random, bool manifest) {
    Node root = manifest ? ManifestSeed() : CheckListSeed();
    for (size_t n = random.Below(4); n > 0; --n) MutateTree(random, root);
    std::string bytes = random.Pick(kPrologs);
    Write(root, bytes);
    if (random.OneIn(2)) {
        for (size_t n = 1 + random.Below(2); n > 0; --n) MutateBytes(random, bytes);
    }
    return bytes;
}

std::string SeedDocument(bool manifest) {
    std::string bytes;
    Write(manifest ? ManifestSeed() : CheckListSeed(), bytes);
    return bytes;
}
