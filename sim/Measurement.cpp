#include "Measurement.h"

#include "Random.h"

#include <algorithm>
#include <cmath>

namespace sentova {
namespace sim {

namespace {

enum Salt : std::uint64_t { kDropout = 16, kRange = 20, kAmplitude = 24 };

// The footprint: its centre and four rays on its rim, and the share of the
// beam's energy each carries.
constexpr int kFootprintRays = 5;
constexpr double kRayWeight[kFootprintRays] = {0.4, 0.15, 0.15, 0.15, 0.15};
// A pulse that meets two surfaces comes back misshapen.
constexpr std::int16_t kSplitPulseDeviation = 20;

Vec3 normalised(const Vec3& v) {
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return Vec3{v.x / n, v.y / n, v.z / n};
}

double rawAmplitude(const BeamHit& hit, double share, double gain) {
    // returnAmplitude's law without its rounding and clamping.
    constexpr double kReferenceRange = 2.0;
    const double r = std::max(hit.range, 0.05);
    const double incidence = std::pow(hit.cosIncidence, hit.surface->incidenceExponent);
    return 65535.0 * hit.surface->reflectivity * incidence * (kReferenceRange / r) *
           (kReferenceRange / r) * share * gain;
}

} // namespace

LaserMode laserMode(LIDAR_TYPE model, const std::map<unsigned, std::int32_t>& parameters,
                    unsigned laserGain) {
    const auto param = [&](unsigned id, std::int32_t fallback) {
        const auto it = parameters.find(id);
        return it == parameters.end() ? fallback : it->second;
    };
    LaserMode m;
    switch (model) {
    case LIDAR_LX30: {
        // High Speed, Fast Mode, High Penetration: slower modes see further,
        // more surely and with less noise.
        static const LaserMode modes[] = {
            {25000.0, 1.5, 2.0, 80.0, 1.0, 8.0, TargetSelection::All},
            {5000.0, 1.0, 1.0, 150.0, 1.0, 4.0, TargetSelection::All},
            {500.0, 0.5, 0.25, 300.0, 1.0, 1.0, TargetSelection::All},
        };
        const std::int32_t mode = param(1, 0);
        m = modes[mode >= 0 && mode <= 2 ? mode : 0];
        const std::int32_t target = param(2, 0);
        if (target >= 0 && target <= 4)
            m.selection = static_cast<TargetSelection>(target);
        break;
    }
    case LIDAR_LX20: {
        const std::int32_t sampleRate = param(3, 10000);
        const std::int32_t averaged = std::max(1, param(4, 1));
        const std::int32_t gain = param(5, static_cast<std::int32_t>(laserGain & 0xFF));
        m.rate = static_cast<double>(sampleRate) / averaged;
        // Averaging n samples divides the noise by the square root of n.
        m.noiseScale = 1.0 / std::sqrt(static_cast<double>(averaged));
        // Gain 0..255 amplifies weak returns up to 17 times; strong ones saturate.
        m.gain = 1.0 + std::clamp(gain, 0, 255) / 16.0;
        m.detectionThreshold = 30.0;
        break;
    }
    case LIDAR_GENERIC:
        break;
    }
    return m;
}

int measureSample(const Scene& scene, double azimuthDeg, double elevationDeg,
                  const NoiseSettings& noise, const LaserMode& mode, std::uint64_t seed,
                  std::uint64_t sample, Return out[2]) {
    if (!std::isfinite(azimuthDeg) || !std::isfinite(elevationDeg))
        return 0;
    if (noise.enabled && uniformDraw(seed, sample, kDropout) < noise.dropouts * mode.dropoutScale)
        return 0;

    // Cast the footprint: the centre, and with multiple returns the rim.
    const Vec3 d = beamDirection(azimuthDeg, elevationDeg);
    const int rays = noise.enabled && noise.multipleReturns ? kFootprintRays : 1;
    std::optional<BeamHit> hits[kFootprintRays];
    hits[0] = scene.cast(d);
    if (rays > 1) {
        const double az = azimuthDeg * 3.141592653589793 / 180.0;
        const double el = elevationDeg * 3.141592653589793 / 180.0;
        const Vec3 alongAz{std::cos(az), -std::sin(az), 0.0};
        const Vec3 alongEl{-std::sin(el) * std::sin(az), -std::sin(el) * std::cos(az),
                           std::cos(el)};
        const double t = std::tan(0.5e-3 * noise.beamDivergenceMrad);
        const double sign[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
        for (int i = 0; i < 4; ++i) {
            const double a = sign[i][0] * t, e = sign[i][1] * t;
            hits[i + 1] = scene.cast(normalised(Vec3{d.x + a * alongAz.x + e * alongEl.x,
                                                     d.y + a * alongAz.y + e * alongEl.y,
                                                     d.z + a * alongAz.z + e * alongEl.z}));
        }
    }
    for (auto& h : hits)
        if (h && h->range > mode.maximumRange)
            h.reset();

    // Group the hits: the nearest surface, and whatever lies clearly behind it.
    double nearest = 1e300;
    for (int i = 0; i < rays; ++i)
        if (hits[i])
            nearest = std::min(nearest, hits[i]->range);
    if (nearest == 1e300)
        return 0;
    int farRay = -1;
    double nearShare = 0.0, farShare = 0.0;
    const double weight0 = rays == 1 ? 1.0 : kRayWeight[0];
    for (int i = 0; i < rays; ++i) {
        if (!hits[i])
            continue;
        const double w = i == 0 ? weight0 : kRayWeight[i];
        if (hits[i]->range <= nearest + kReturnSeparation) {
            nearShare += w;
        } else {
            farShare += w;
            if (farRay < 0 || hits[i]->range < hits[farRay]->range)
                farRay = i;
        }
    }
    // The centre stands for the near group when it is in it.
    int nearRay = 0;
    if (!hits[0] || hits[0]->range > nearest + kReturnSeparation)
        for (int i = 1; i < rays; ++i)
            if (hits[i] && hits[i]->range == nearest)
                nearRay = i;

    Return found[2];
    int count = 0;
    const bool split = farRay >= 0;
    const std::pair<int, double> groups[2] = {{nearRay, nearShare}, {farRay, farShare}};
    for (int g = 0; g < 2; ++g) {
        const int ray = groups[g].first;
        if (ray < 0)
            continue;
        const BeamHit& hit = *hits[ray];
        Return r;
        r.range = hit.range;
        double amplitude = rawAmplitude(hit, groups[g].second, mode.gain);
        if (noise.enabled) {
            const double sigma = noise.rangeNoise * mode.noiseScale * hit.range;
            const double z = std::clamp(gaussianDraw(seed, sample, kRange + 2 * g),
                                        -kRangeNoiseLimit, kRangeNoiseLimit);
            r.range = std::max(0.0, hit.range + sigma * z);
            amplitude *= std::max(0.0, 1.0 + noise.amplitudeNoise *
                                                 gaussianDraw(seed, sample, kAmplitude + 2 * g));
        }
        if (amplitude < mode.detectionThreshold)
            continue;
        r.amplitude = std::min(65535.0, std::max(1.0, std::round(amplitude)));
        r.reflectance = hit.surface->reflectance;
        r.pulseShapeDeviation = static_cast<std::int16_t>(hit.surface->pulseShapeDeviation +
                                                          (split ? kSplitPulseDeviation : 0));
        found[count++] = r;
    }
    if (count == 0)
        return 0;

    // The target selection keeps one of two returns, or both.
    int keep = -1;
    if (count == 2) {
        switch (mode.selection) {
        case TargetSelection::All:
            break;
        case TargetSelection::First:
            keep = 0;
            break;
        case TargetSelection::Last:
            keep = 1;
            break;
        case TargetSelection::HighestAmplitude:
            keep = found[1].amplitude > found[0].amplitude ? 1 : 0;
            break;
        case TargetSelection::HighestReflectance:
            keep = found[1].reflectance > found[0].reflectance ? 1 : 0;
            break;
        }
    }
    if (keep >= 0) {
        out[0] = found[keep];
        return 1;
    }
    for (int i = 0; i < count; ++i)
        out[i] = found[i];
    return count;
}

} // namespace sim
} // namespace sentova
