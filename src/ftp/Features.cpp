#include "ftp/Features.h"

#include <algorithm>
#include <cctype>

namespace {
std::string upper(std::string_view s)
{
    std::string u(s);
    std::transform(u.begin(), u.end(), u.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return u;
}
}  // namespace

std::string_view FeatureName(TFeature f)
{
    switch (f) {
        case TFeature::Mlsd: return "MLSD";
        case TFeature::Utf8: return "UTF8";
        case TFeature::Epsv: return "EPSV";
        case TFeature::Eprt: return "EPRT";
        case TFeature::Mdtm: return "MDTM";
        case TFeature::Mfmt: return "MFMT";
        case TFeature::SiteUtime: return "SITE UTIME";
        case TFeature::Size: return "SIZE";
        case TFeature::RestStream: return "REST STREAM";
        case TFeature::Count: break;
    }
    return {};
}

void TFtpFeatures::ReadFeatReply(const std::vector<std::string>& lines)
{
    Clear();
    for (TFeature f : {TFeature::Mlsd, TFeature::Utf8, TFeature::Mfmt, TFeature::Size, TFeature::Mdtm,
                       TFeature::RestStream})
        Set(f, TOffer::No);
    for (const std::string& raw : lines) {
        // Feature lines begin with a blank (RFC 2389); the code lines do not.
        // Some servers leave the blank out: a line that is not "211..." is
        // read as a feature too.
        std::string_view line = raw;
        if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
            std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
            (line.size() == 3 || line[3] == ' ' || line[3] == '-'))
            continue;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            line.remove_suffix(1);
        const size_t blank = line.find(' ');
        const std::string name = upper(line.substr(0, blank));
        const std::string_view rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        if (name == "MLST" || name == "MLSD") {
            Set(TFeature::Mlsd, TOffer::Yes);
            if (name == "MLST")
                m_mlstFacts = std::string(rest.substr(0, 200));
        } else if (name == "REST" && upper(rest).rfind("STREAM", 0) == 0) {
            Set(TFeature::RestStream, TOffer::Yes);
        } else if (name == "SITE" && upper(rest).find("UTIME") != std::string::npos) {
            Set(TFeature::SiteUtime, TOffer::Yes);
        } else {
            // A feature named by one word, as FeatureName writes it.
            for (TFeature f : {TFeature::Utf8, TFeature::Epsv, TFeature::Eprt, TFeature::Mdtm, TFeature::Mfmt,
                               TFeature::Size})
                if (name == FeatureName(f))
                    Set(f, TOffer::Yes);
        }
    }
}

bool TFtpFeatures::RefusesCommand(std::string_view reply, TFeature f)
{
    if (reply.size() < 3)
        return false;
    const std::string_view code = reply.substr(0, 3);
    if (code == "500" || code == "502" || code == "504")
        return true;
    return code == "501" && (f == TFeature::Epsv || f == TFeature::Eprt);
}

std::string TFtpFeatures::Summary() const
{
    std::string text;
    for (size_t i = 0; i < m_offers.size(); ++i) {
        if (m_offers[i] != TOffer::Yes)
            continue;
        if (!text.empty())
            text += ' ';
        text += FeatureName(static_cast<TFeature>(i));
    }
    return text;
}
