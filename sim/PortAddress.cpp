#include "sim/PortAddress.h"

#include <stdexcept>

namespace oru_sim {

namespace {

int parseNumber(const std::string& text, size_t& pos, const std::string& whole)
{
    size_t end = pos;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    if (end == pos || end - pos > 3)
        throw std::invalid_argument("bad port address \"" + whole + "\" (expected BUS-PORT[.PORT...])");
    int value = std::stoi(text.substr(pos, end - pos));
    pos = end;
    return value;
}

}  // namespace

std::string PortAddress::devpath() const
{
    std::string text;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i > 0)
            text += '.';
        text += std::to_string(ports[i]);
    }
    return text;
}

std::string PortAddress::sysfsName() const
{
    return std::to_string(bus) + "-" + devpath();
}

PortAddress PortAddress::parent() const
{
    if (ports.size() < 2)
        throw std::logic_error("a root hub port has no parent port");
    return PortAddress{bus, std::vector<int>(ports.begin(), ports.end() - 1)};
}

PortAddress PortAddress::parse(const std::string& text)
{
    PortAddress address;
    address.ports.clear();
    size_t pos = 0;
    address.bus = parseNumber(text, pos, text);
    if (pos >= text.size() || text[pos] != '-')
        throw std::invalid_argument("bad port address \"" + text + "\" (expected BUS-PORT[.PORT...])");
    do {
        ++pos;
        address.ports.push_back(parseNumber(text, pos, text));
    } while (pos < text.size() && text[pos] == '.');
    if (pos != text.size())
        throw std::invalid_argument("bad port address \"" + text + "\" (expected BUS-PORT[.PORT...])");
    address.validate();
    return address;
}

void PortAddress::validate() const
{
    if (bus < 1 || bus > 255)
        throw std::invalid_argument("bus number " + std::to_string(bus) + " is outside 1..255");
    if (ports.empty() || ports.size() > 7)
        throw std::invalid_argument("a port chain has 1 to 7 ports, not " + std::to_string(ports.size()));
    for (int port : ports)
        if (port < 1 || port > 255)
            throw std::invalid_argument("port number " + std::to_string(port) + " is outside 1..255");
}

bool PortAddress::operator==(const PortAddress& other) const
{
    return bus == other.bus && ports == other.ports;
}

}  // namespace oru_sim
