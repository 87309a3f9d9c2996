// Metrics gathered family by family and written in the text format Prometheus scrapes
// (the node exporter's textfile collector reads it): every family once, with its HELP
// and TYPE lines and all its samples together, samples without timestamps, the file
// ended by "# EOF" as OpenMetrics ends one.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lab {

// Label names and values, in the order they are written. A label whose value is empty
// is left out, as Prometheus reads an empty label as none.
using Labels = std::vector<std::pair<std::string, std::string>>;

enum class MetricType { gauge, counter };

class MetricSet {
  public:
    // One sample of the family `name` (a counter's name ends in "_total"). The family's
    // type and help are those of its first sample. A value that is missing or not finite
    // is no sample; a second sample with the same labels is dropped.
    void add(const std::string& name, MetricType type, const std::string& help, const Labels& labels,
             std::optional<double> value);

    std::string text() const;

  private:
    struct Family {
        std::string name, help;
        MetricType type;
        std::vector<std::string> labelTexts; // "{a=\"b\"}" of each sample, for duplicates
        std::vector<std::string> samples;
    };
    std::vector<Family> f_families;
};

// A number as the text format writes it: the shortest text that reads back exactly.
std::string metricNumber(double value);

} // namespace lab
