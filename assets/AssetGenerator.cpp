// Writes the default sounds and the alert wallpaper into a folder, so that no binary file has to
// live in the repository. Plain standard C++: it runs at build time, before anything else exists.
//
//   sentrel_asset_generator <output folder>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int SampleRate = 22050;

struct Tone
{
    double startHz;
    double endHz; // a sweep when it differs from startHz
    double seconds;
};

void putLe(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xff));
}

std::vector<std::int16_t> synthesize(const std::vector<Tone>& tones, double volume)
{
    std::vector<std::int16_t> samples;
    double phase = 0.0;
    for (const Tone& tone : tones) {
        const int count = int(tone.seconds * SampleRate);
        // Short fades at both ends of every tone keep the speaker from clicking.
        const int fade = std::min(count / 4, SampleRate / 200);
        for (int i = 0; i < count; ++i) {
            const double progress = double(i) / count;
            const double hz = tone.startHz + (tone.endHz - tone.startHz) * progress;
            phase += 2.0 * std::numbers::pi * hz / SampleRate;
            double envelope = 1.0;
            if (i < fade)
                envelope = double(i) / fade;
            else if (i >= count - fade)
                envelope = double(count - 1 - i) / fade;
            // A little third harmonic makes a small speaker carry the tone.
            const double value = std::sin(phase) * 0.85 + std::sin(3.0 * phase) * 0.15;
            samples.push_back(std::int16_t(std::lround(value * envelope * volume * 32767.0)));
        }
    }
    return samples;
}

// RIFF WAVE, PCM, 16-bit, mono.
std::string wave(const std::vector<std::int16_t>& samples)
{
    const auto dataBytes = std::uint32_t(samples.size() * 2);
    std::string out = "RIFF";
    putLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    putLe(out, 16, 4);
    putLe(out, 1, 2); // PCM
    putLe(out, 1, 2); // mono
    putLe(out, SampleRate, 4);
    putLe(out, SampleRate * 2, 4); // bytes per second
    putLe(out, 2, 2); // block align
    putLe(out, 16, 2); // bits per sample
    out += "data";
    putLe(out, dataBytes, 4);
    for (std::int16_t sample : samples)
        putLe(out, std::uint16_t(sample), 2);
    return out;
}

// A warning sign on a dark red ground: 24-bit bottom-up BMP.
std::string alertBitmap()
{
    constexpr int Width = 640;
    constexpr int Height = 400;
    constexpr int RowBytes = (Width * 3 + 3) & ~3;
    std::string out = "BM";
    putLe(out, 54 + RowBytes * Height, 4);
    putLe(out, 0, 4);
    putLe(out, 54, 4);
    putLe(out, 40, 4);
    putLe(out, Width, 4);
    putLe(out, Height, 4);
    putLe(out, 1, 2);
    putLe(out, 24, 2);
    putLe(out, 0, 4); // no compression
    putLe(out, RowBytes * Height, 4);
    putLe(out, 2835, 4); // 72 dots per inch
    putLe(out, 2835, 4);
    putLe(out, 0, 4);
    putLe(out, 0, 4);

    const double cx = Width / 2.0;
    const double top = 70.0;
    const double bottom = 330.0;
    const double halfBase = 150.0;
    for (int row = 0; row < Height; ++row) {
        const double y = Height - 1 - row; // rows run bottom-up
        std::string line;
        for (int x = 0; x < Width; ++x) {
            unsigned char r = 110, g = 0, b = 0;
            const double depth = (y - top) / (bottom - top);
            const bool inSign = depth >= 0.0 && depth <= 1.0 && std::abs(x - cx) <= halfBase * depth;
            if (inSign) {
                r = 250, g = 200, b = 0;
                const bool bar = std::abs(x - cx) <= 12 && y >= 140 && y <= 265;
                const bool dot = std::hypot(x - cx, y - 300) <= 14;
                if (bar || dot)
                    r = 20, g = 20, b = 20;
            }
            line.push_back(char(b));
            line.push_back(char(g));
            line.push_back(char(r));
        }
        line.resize(RowBytes, '\0');
        out += line;
    }
    return out;
}

bool writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(file);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " <output folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);

    // Connected: rising two-note chime. Disconnected: the same notes falling. Intruder: a
    // two-tone siren, loud and long enough to be noticed. Start: one short upward chirp.
    const bool ok
        = writeFile(folder / "NetOn.wav", wave(synthesize({ { 660, 660, 0.15 }, { 880, 880, 0.25 } }, 0.6)))
        && writeFile(folder / "NetOff.wav", wave(synthesize({ { 880, 880, 0.15 }, { 660, 660, 0.25 } }, 0.6)))
        && writeFile(folder / "Intruder.wav",
            wave(synthesize({ { 1000, 1000, 0.18 }, { 750, 750, 0.18 }, { 1000, 1000, 0.18 },
                                { 750, 750, 0.18 }, { 1000, 1000, 0.18 }, { 750, 750, 0.18 } },
                0.8)))
        && writeFile(folder / "Start.wav", wave(synthesize({ { 500, 1200, 0.2 } }, 0.5)))
        && writeFile(folder / "SentrelBg.bmp", alertBitmap());
    if (!ok) {
        std::cerr << "cannot write the assets into " << folder << '\n';
        return 1;
    }
    return 0;
}
