#include "addon/exe_xml_registrar.h"

// Placeholder until the registrar is written: finds no installation.
ExeXmlRegistrar::ExeXmlRegistrar(EnvironmentLookup lookup) : lookup_(std::move(lookup)) {}
std::vector<std::string> ExeXmlRegistrar::findInstallations() const { return {}; }
std::int32_t ExeXmlRegistrar::registerAll(const std::string&, const std::string&, const std::string&, std::string&) const { return 0; }
std::int32_t ExeXmlRegistrar::unregisterAll(const std::string&, std::string&) const { return 0; }
std::string ExeXmlRegistrar::readFile(const std::string&) { return {}; }
ExeXmlRegistrar::EntryRange ExeXmlRegistrar::findEntry(const std::string&, const std::string&) { return {}; }
std::string ExeXmlRegistrar::withEntry(const std::string& document, const std::string&, const std::string&, const std::string&) { return document; }
std::string ExeXmlRegistrar::withoutEntry(const std::string& document, const std::string&) { return document; }
bool ExeXmlRegistrar::writeWithBackup(const std::string&, const std::string&, std::string&) { return false; }
