#pragma once

// The captured SimConnect messages under tests/data/simconnect-wire and the
// decoded fields INDEX.md lists for each.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct WireVector {
    std::string name;  // "c2s/01_Open_CorvaneHID.hex"
    std::vector<std::uint8_t> bytes;
    // INDEX.md's decoded column: the message kind ("Open", "EXCEPTION"),
    // the header words it names, and the fields in order. Numbers as
    // written ("0x1000", "0.5"); quoted texts without their quotes, those
    // cut short by INDEX.md marked with a trailing "...".
    std::string kind;
    std::vector<std::pair<std::string, std::string>> header;
    std::vector<std::pair<std::string, std::string>> fields;
};

// Every .hex file of the folder ("c2s", "c2s-edge", "s2c"), by name, each
// with its INDEX.md row; a file without a row fails the calling test.
std::vector<WireVector> loadWireVectors(const std::string& folder);

// Canonical form of a field value for comparisons: numbers (hex or
// decimal) in decimal, floats with six significant digits, texts as they are.
std::string canonicalValue(const std::string& value);
