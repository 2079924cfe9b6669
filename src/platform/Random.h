#pragma once

#include <cstdint>
#include <memory>

namespace pellora {

// The program-wide pseudo-random generator. The default one seeds itself when it is
// first used, so every start draws a different sequence.
class RandomGenerator {
public:
    virtual ~RandomGenerator() = default;
    // Reseeds from the system clock and the system's entropy.
    virtual void Randomize() = 0;
    // A whole number drawn uniformly from 0 to n - 1; 0 when n is not above 0.
    virtual std::int32_t Random(std::int32_t n) = 0;
};

RandomGenerator& ProgramRandom();

// Replaces the program-wide generator (tests); nullptr restores a fresh default one.
// Returns the generator that was in use.
std::unique_ptr<RandomGenerator> ReplaceProgramRandom(std::unique_ptr<RandomGenerator> generator);

// Shorthands for the program-wide generator.
inline void Randomize() {
    ProgramRandom().Randomize();
}
inline std::int32_t Random(std::int32_t n) {
    return ProgramRandom().Random(n);
}

// A new generator of the default kind, already seeded.
std::unique_ptr<RandomGenerator> MakeDefaultRandom();

} // namespace pellora
