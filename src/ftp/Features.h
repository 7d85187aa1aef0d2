#pragma once
// What one connection's server offers beyond the base protocol: read from
// its "FEAT" answer and from the commands it refused, so that a command a
// server refused is not sent to it again in the same session.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TFeature : uint8_t { Mlsd, Utf8, Epsv, Eprt, Mdtm, Mfmt, SiteUtime, Size, RestStream, Count };

enum class TOffer : uint8_t { Unknown, Yes, No };

class TFtpFeatures {
public:
    TOffer Get(TFeature f) const { return m_offers[static_cast<size_t>(f)]; }
    bool Offered(TFeature f) const { return Get(f) == TOffer::Yes; }
    // Not refused so far: offered, or never asked about.
    bool Usable(TFeature f) const { return Get(f) != TOffer::No; }
    void Set(TFeature f, TOffer o) { m_offers[static_cast<size_t>(f)] = o; }
    // A new connection: nothing known.
    void Clear() { *this = TFtpFeatures(); }

    // The lines of a "211" answer to "FEAT" (the first and the last line
    // included or not). Extensions whose RFC asks that FEAT name them (MLST,
    // UTF8, MFMT, SIZE, MDTM, REST STREAM) are "no" when it does not;
    // EPSV and EPRT, which many servers support without naming, stay
    // unknown then.
    void ReadFeatReply(const std::vector<std::string>& lines);
    // "FEAT" itself refused: nothing is known.
    void FeatRefused() { Clear(); }

    // A reply that says the server does not know the command at all (500,
    // 502, 504; for EPSV/EPRT also 501, an argument form it does not know).
    static bool RefusesCommand(std::string_view reply, TFeature f);

    // The facts "MLST" named, as the server wrote them ("type*;size*;...").
    const std::string& MlstFacts() const { return m_mlstFacts; }
    // For the log: "MLSD UTF8 EPSV ..." of what is offered.
    std::string Summary() const;

private:
    std::array<TOffer, static_cast<size_t>(TFeature::Count)> m_offers{};
    std::string m_mlstFacts;
};

std::string_view FeatureName(TFeature f);
