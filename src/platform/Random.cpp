#include "platform/Random.h"

#include <chrono>
#include <random>

namespace pellora {

namespace {

class DefaultRandom final : public RandomGenerator {
public:
    DefaultRandom() { Randomize(); }

    void Randomize() override {
        std::random_device device;
        auto now = std::chrono::system_clock::now().time_since_epoch().count();
        std::seed_seq seed{static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32),
                           device(), device()};
        Engine.seed(seed);
    }

    std::int32_t Random(std::int32_t n) override {
        if (n <= 0)
            return 0;
        return std::uniform_int_distribution<std::int32_t>(0, n - 1)(Engine);
    }

private:
    std::mt19937_64 Engine;
};

std::unique_ptr<RandomGenerator>& Current() {
    static std::unique_ptr<RandomGenerator> current = MakeDefaultRandom();
    return current;
}

} // namespace

std::unique_ptr<RandomGenerator> MakeDefaultRandom() {
    return std::make_unique<DefaultRandom>();
}

RandomGenerator& ProgramRandom() {
    return *Current();
}

std::unique_ptr<RandomGenerator> ReplaceProgramRandom(std::unique_ptr<RandomGenerator> generator) {
    std::unique_ptr<RandomGenerator> previous = std::move(Current());
    Current() = generator ? std::move(generator) : MakeDefaultRandom();
    return previous;
}

} // namespace pellora
