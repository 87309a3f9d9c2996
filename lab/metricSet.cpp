#include "lab/metricSet.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "lab/textEscapes.h"

namespace lab {

namespace {

std::string labelText(const Labels& labels) {
    std::string text;
    for (const auto& [name, value] : labels) {
        if (value.empty()) continue;
        text += (text.empty() ? "{" : ",") + name + "=\"" + labelValue(value) + "\"";
    }
    return text.empty() ? text : text + "}";
}

// HELP text escapes backslash and line feed.
std::string helpText(const std::string& help) {
    std::string escaped;
    for (char ch : help) {
        if (ch == '\\')
            escaped += "\\\\";
        else if (ch == '\n')
            escaped += "\\n";
        else
            escaped += ch;
    }
    return escaped;
}

} // namespace

std::string metricNumber(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    if (error != std::errc()) return "NaN";
    return std::string(text, end);
}

void MetricSet::add(const std::string& name, MetricType type, const std::string& help, const Labels& labels,
                    std::optional<double> value) {
    if (!value || !std::isfinite(*value)) return;
    auto family = std::find_if(f_families.begin(), f_families.end(),
                               [&](const Family& each) { return each.name == name; });
    if (family == f_families.end()) {
        f_families.push_back({name, help, type, {}, {}});
        family = f_families.end() - 1;
    }
    const std::string labelPart = labelText(labels);
    if (std::find(family->labelTexts.begin(), family->labelTexts.end(), labelPart) !=
        family->labelTexts.end())
        return;
    family->labelTexts.push_back(labelPart);
    family->samples.push_back(name + labelPart + " " + metricNumber(*value));
}

std::string MetricSet::text() const {
    std::string text;
    for (const Family& family : f_families) {
        text += "# HELP " + family.name + " " + helpText(family.help) + "\n";
        text += "# TYPE " + family.name + (family.type == MetricType::counter ? " counter\n" : " gauge\n");
        for (const std::string& sample : family.samples)
            text += sample + "\n";
    }
    return text + "# EOF\n";
}

} // namespace lab
