#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "addon/exe_xml_registrar.h"

// Feeds arbitrary bytes to the EXE.xml editor as a document and checks that
// only the program's own entry lines ever change: adding the entry keeps every
// byte before and after it, adding it again changes nothing, and removing it
// gives back the document it was added to.
namespace {

using R = ExeXmlRegistrar;

const std::string kName = "CorvaneHID";
const std::string kExe = "C:\\P&<x>\\CorvaneHID.exe";
const std::string kArgs = "--config \"C:\\R&D\\config.json\"";
const std::string kEntry =
    "    <Launch.Addon>\r\n        <Name>CorvaneHID</Name>\r\n        "
    "<Disabled>False</Disabled>\r\n"
    "        <Path>C:\\P&amp;&lt;x&gt;\\CorvaneHID.exe</Path>\r\n"
    "        <CommandLine>--config \"C:\\R&amp;D\\config.json\"</CommandLine>\r\n"
    "    </Launch.Addon>\r\n";

void check(bool condition) {
    if (!condition) std::abort();
}

bool blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\f\v") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string doc(reinterpret_cast<const char*>(data), size);
    const R::EntryRange before = R::findEntry(doc, kName);
    check(!before.found || (before.start <= before.end && before.end <= doc.size()));

    const std::string once = R::withEntry(doc, kName, kExe, kArgs);
    check(R::withEntry(once, kName, kExe, kArgs) == once);
    const R::EntryRange added = R::findEntry(once, kName);
    check(added.found && once.compare(added.start, added.end - added.start, kEntry) == 0);
    if (blank(doc)) return 0;

    check(once.compare(0, added.start, doc, 0, added.start) == 0);
    if (before.found) {
        check(added.start == before.start);
        check(once.compare(added.end, std::string::npos, doc, before.end) == 0);
        check(R::withoutEntry(doc, kName) == doc.substr(0, before.start) + doc.substr(before.end));
    } else {
        check(once.compare(added.end, std::string::npos, doc, added.start) == 0);
        check(R::withoutEntry(once, kName) == doc);
        check(R::withoutEntry(doc, kName) == doc);
    }
    return 0;
}
