#include "wrapper/Formatting.h"

#include <algorithm>
#include <sstream>

namespace tav_oru::internal {

namespace {

std::string controls_table(const std::vector<Controllable> &controls)
{
    std::vector<std::string> names;
    std::vector<std::string> values;
    std::vector<std::string> mins;
    std::vector<std::string> maxs;
    for (const Controllable &control : controls) {
        names.push_back(control.name);
        values.push_back(std::to_string(control.value));
        mins.push_back(std::to_string(control.min_value));
        maxs.push_back(std::to_string(control.max_value));
    }
    const int name_width = max_size(names) + 4;
    const int value_width = max_size(values) + 2;
    const int min_width = max_size(mins) + 2;
    const int max_width = max_size(maxs) + 2;
    fix_lengths(names, name_width);
    fix_lengths(values, value_width);
    fix_lengths(mins, min_width);
    fix_lengths(maxs, max_width);

    // The min header is three wider than its cells: rows put four blanks
    // before their bar, the header one.
    std::string controllable_header = "controllable";
    std::string value_header = "value";
    std::string min_header = "min value";
    std::string max_header = "max value";
    fix_length(controllable_header, name_width);
    fix_length(value_header, value_width);
    fix_length(min_header, min_width + 3);
    fix_length(max_header, max_width);

    std::ostringstream out;
    out << " " << controllable_header << " " << value_header << " |" << min_header << " |"
        << max_header << " |auto-mode  |in auto-mode  |writable\n--\n";
    for (std::size_t i = 0; i < controls.size(); ++i) {
        out << " " << names[i] << " " << values[i] << " |" << mins[i] << "    |" << maxs[i] << " ";
        append_bool(out, controls[i].supports_auto, 11);
        append_bool(out, controls[i].is_auto, 14);
        append_bool(out, controls[i].is_writable, -1);
        out << "\n";
    }
    return out.str();
}

} // namespace

void fix_length(std::string &text, int n)
{
    if (n > static_cast<int>(text.size()))
        text.append(static_cast<std::size_t>(n) - text.size(), ' ');
}

void fix_lengths(std::vector<std::string> &texts, int n)
{
    for (std::string &text : texts)
        fix_length(text, n);
}

int max_size(const std::vector<std::string> &texts)
{
    std::size_t longest = 0;
    for (const std::string &text : texts)
        longest = std::max(longest, text.size());
    return static_cast<int>(longest);
}

void append_bool(std::ostream &out, bool b, int n)
{
    out << (b ? "|*" : "| ");
    if (n >= 3)
        out << std::string(static_cast<std::size_t>(n - 1), ' ');
}

std::string camera_to_string(const std::string &sdk_version, const CameraInfo &info,
                             const std::vector<Controllable> &controls)
{
    return "\n(oru sdk: " + sdk_version + ")\n" + info.to_string() + "\n" +
           controls_table(controls);
}

} // namespace tav_oru::internal
