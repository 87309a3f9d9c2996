// The swept test tone as the host writes it into its first two outputs: the tone's
// phase advances by the cosine of a slowly rising modulation phase, both evaluated in
// extended precision and kept as doubles between samples.
#pragma once

namespace capcheck {

class ToneGenerator {
  public:
    // The next sample's value, full scale at -1.0 and 1.0.
    double next();

  private:
    double sine_ = 0.0;
    double cosine_ = 0.0;
};

} // namespace capcheck
