#include "CloudDisplay.h"

#include "ObservationPoint.h"

#include <vtkFloatArray.h>
#include <vtkPointData.h>

#include <algorithm>
#include <cstring>

namespace viewer {

namespace {

constexpr std::size_t kHistogramSize = 65536;

// SetNumberOfTuples alone reallocates without keeping the values when it grows an array.
void setTuplesKeepingValues(vtkDataArray* array, vtkIdType tuples) {
    if (tuples > array->GetNumberOfTuples()) {
        array->Resize(tuples);
    }
    array->SetNumberOfTuples(tuples);
}

} // namespace

CloudDisplay::CloudDisplay()
    : m_points(vtkSmartPointer<vtkPoints>::New()), m_vertices(vtkSmartPointer<vtkCellArray>::New()),
      m_offsets(vtkSmartPointer<vtkIdTypeArray>::New()),
      m_connectivity(vtkSmartPointer<vtkIdTypeArray>::New()),
      m_colors(vtkSmartPointer<vtkUnsignedCharArray>::New()), m_histogram(kHistogramSize, 0) {
    m_points->SetDataTypeToFloat();
    m_colors->SetNumberOfComponents(3);
    m_colors->SetName("Colors");
    m_offsets->SetNumberOfValues(1);
    m_offsets->SetValue(0, 0);
    m_vertices->SetData(m_offsets, m_connectivity);
}

void CloudDisplay::attachTo(vtkPolyData* polyData) const {
    polyData->SetPoints(m_points);
    polyData->SetVerts(m_vertices);
    polyData->GetPointData()->SetScalars(m_colors);
}

void CloudDisplay::countIn(double intensity) const {
    if (intensity != intensity) {
        return;
    }
    const std::uint32_t t = formats::truncateIntensity(intensity);
    if (t < kHistogramSize) {
        ++m_histogram[t];
    } else {
        ++m_aboveHistogram;
    }
}

void CloudDisplay::countOut(double intensity) const {
    if (intensity != intensity) {
        return;
    }
    const std::uint32_t t = formats::truncateIntensity(intensity);
    if (t < kHistogramSize) {
        --m_histogram[t];
    } else {
        --m_aboveHistogram;
    }
}

void CloudDisplay::captureAll(const std::deque<DataPoint>& buffer, std::size_t n) {
    m_intensity.resize(n);
    m_allXyz.resize(n * 3);
    auto it = buffer.begin();
    float* xyz = m_allXyz.data();
    double* intensity = m_intensity.data();
    for (std::size_t i = 0; i < n; ++i, ++it) {
        xyz[i * 3] = static_cast<float>(it->x);
        xyz[i * 3 + 1] = static_cast<float>(it->y);
        xyz[i * 3 + 2] = static_cast<float>(it->z);
        intensity[i] = it->intensity;
    }
    m_head = 0;
    m_allPending = true;
    m_newPoints.clear();
    m_everCaptured = true;
    // Counted later, outside the caller's lock.
    m_histogramStale = true;
}

void CloudDisplay::capture(const std::deque<DataPoint>& buffer, std::size_t n,
                           const BufferLog& log) {
    n = std::min(n, buffer.size());
    const std::size_t held = m_intensity.size();
    const std::uint64_t appended = log.appended - m_seen.appended;
    const std::uint64_t evicted = log.evicted - m_seen.evicted;
    const bool sameContents =
        m_everCaptured && log.generation == m_seen.generation && held + appended == n + evicted;
    const std::size_t pending = m_allPending ? 0 : m_newPoints.size();
    m_seen = log;

    if (!sameContents || appended > n || pending + appended > n) {
        captureAll(buffer, n);
        return;
    }
    if (appended == 0 && evicted == 0) {
        return;
    }

    // The new points are the last `appended` of the first n; they go either into the slots the
    // dropped points leave (full buffer) or behind the held ones (growing buffer).
    std::size_t firstSlot = 0;
    if (evicted == appended && n == held) {
        firstSlot = m_head;
        m_head = (m_head + appended) % held;
    } else if (evicted == 0 && m_head == 0) {
        firstSlot = held;
        m_intensity.resize(n);
        if (m_allPending) {
            m_allXyz.resize(n * 3);
        }
    } else {
        captureAll(buffer, n);
        return;
    }

    const std::size_t count = static_cast<std::size_t>(appended);
    auto it = buffer.begin() + static_cast<std::ptrdiff_t>(n - count);
    std::size_t slot = firstSlot;
    for (std::size_t j = 0; j < count; ++j, ++it) {
        if (slot >= n) {
            slot -= n;
        }
        if (!m_histogramStale) {
            if (slot < held) {
                countOut(m_intensity[slot]);
            }
            countIn(it->intensity);
        }
        m_intensity[slot] = it->intensity;
        const float xyz[3] = {static_cast<float>(it->x), static_cast<float>(it->y),
                              static_cast<float>(it->z)};
        if (m_allPending) {
            std::memcpy(&m_allXyz[slot * 3], xyz, sizeof xyz);
        } else {
            m_newPoints.push_back({slot, {xyz[0], xyz[1], xyz[2]}});
        }
        ++slot;
    }
}

void CloudDisplay::automaticRange(std::uint32_t& minimum, std::uint32_t& maximum) const {
    if (m_histogramStale) {
        std::fill(m_histogram.begin(), m_histogram.end(), 0);
        m_aboveHistogram = 0;
        for (double v : m_intensity) {
            countIn(v);
        }
        m_histogramStale = false;
    }
    minimum = 65535;
    maximum = 0;
    for (std::size_t i = 0; i < kHistogramSize; ++i) {
        if (m_histogram[i] != 0) {
            minimum = static_cast<std::uint32_t>(i);
            break;
        }
    }
    for (std::size_t i = kHistogramSize; i-- > 0;) {
        if (m_histogram[i] != 0) {
            maximum = static_cast<std::uint32_t>(i);
            break;
        }
    }
    if (m_aboveHistogram != 0) {
        // Only files carry such intensities; a scan is affordable there.
        for (double v : m_intensity) {
            if (v > maximum) {
                maximum = formats::truncateIntensity(v);
            }
        }
    }
}

void CloudDisplay::resizeCells(std::size_t n) {
    const vtkIdType old = m_connectivity->GetNumberOfValues();
    const vtkIdType count = static_cast<vtkIdType>(n);
    setTuplesKeepingValues(m_offsets, count + 1);
    setTuplesKeepingValues(m_connectivity, count);
    vtkIdType* offsets = m_offsets->GetPointer(0);
    vtkIdType* ids = m_connectivity->GetPointer(0);
    for (vtkIdType i = old; i < count; ++i) {
        ids[i] = i;
        offsets[i + 1] = i + 1;
    }
    offsets[0] = 0;
    m_vertices->SetData(m_offsets, m_connectivity);
    m_vertices->Modified();
}

void CloudDisplay::apply(const ColourTable& table) {
    const std::size_t n = m_intensity.size();
    const bool recolourAll = !m_coloured || table.settings() != m_lastSettings;
    const bool resized = static_cast<long long>(n) != m_displayed;
    if (resized) {
        setTuplesKeepingValues(m_points->GetData(), static_cast<vtkIdType>(n));
        setTuplesKeepingValues(m_colors, static_cast<vtkIdType>(n));
        resizeCells(n);
    }
    float* xyz = static_cast<float*>(m_points->GetData()->GetVoidPointer(0));
    std::uint8_t* rgb = m_colors->GetPointer(0);

    bool pointsChanged = resized;
    if (m_allPending) {
        if (n != 0) {
            std::memcpy(xyz, m_allXyz.data(), n * 3 * sizeof(float));
        }
        // The staging memory is kept: touching fresh pages costs more than the copy itself.
        m_allPending = false;
        pointsChanged = true;
    } else if (!m_newPoints.empty()) {
        for (const NewPoint& p : m_newPoints) {
            std::memcpy(xyz + p.slot * 3, p.xyz, sizeof p.xyz);
        }
        pointsChanged = true;
    }

    bool coloursChanged = resized;
    if (recolourAll || pointsChanged) {
        if (recolourAll || m_newPoints.empty()) {
            for (std::size_t i = 0; i < n; ++i) {
                std::memcpy(rgb + i * 3, table.colour(m_intensity[i]), 3);
            }
        } else {
            for (const NewPoint& p : m_newPoints) {
                std::memcpy(rgb + p.slot * 3, table.colour(m_intensity[p.slot]), 3);
            }
        }
        coloursChanged = true;
    }
    m_newPoints.clear();

    if (pointsChanged) {
        m_points->GetData()->Modified();
        m_points->Modified();
    }
    if (coloursChanged) {
        m_colors->Modified();
    }
    m_lastSettings = table.settings();
    m_coloured = true;
    m_displayed = static_cast<long long>(n);
}

} // namespace viewer
