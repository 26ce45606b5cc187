#include "ChunkGroup.h"

#include "CloudChunk.h"
#include "PointActor.h"

#include <vtkActor.h>
#include <vtkFloatArray.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>

#include <cstring>

namespace viewer {

ChunkGroup::ChunkGroup(vtkProperty* property)
    : actor(vtkSmartPointer<vtkActor>::New()), m_xyzView(vtkSmartPointer<vtkFloatArray>::New()),
      m_rgbView(vtkSmartPointer<vtkUnsignedCharArray>::New()),
      m_polyData(vtkSmartPointer<vtkPolyData>::New()) {
    // Drawn as a chunk draws its points.
    wirePointActor(actor, property, m_xyzView, m_rgbView, m_polyData);
}

ChunkGroup::~ChunkGroup() = default;

void ChunkGroup::update(const std::vector<const CloudChunk*>& members) {
    bool same = members.size() == m_members.size();
    for (std::size_t i = 0; same && i < members.size(); ++i) {
        same = m_members[i].first == members[i]->start &&
               m_members[i].second == members[i]->drawVersion;
    }
    if (same) {
        return;
    }
    m_members.clear();
    std::size_t count = 0;
    for (const CloudChunk* chunk : members) {
        m_members.emplace_back(chunk->start, chunk->drawVersion);
        count += chunk->drawn;
    }
    m_xyz.resize(count * 3);
    m_rgb.resize(count * 3);
    std::size_t at = 0;
    for (const CloudChunk* chunk : members) {
        // What the chunk's own views would draw.
        std::memcpy(&m_xyz[at * 3], chunk->xyzView->GetPointer(0),
                    chunk->drawn * 3 * sizeof(float));
        std::memcpy(&m_rgb[at * 3], chunk->rgbView->GetPointer(0), chunk->drawn * 3);
        at += chunk->drawn;
    }
    m_xyzView->SetArray(m_xyz.data(), static_cast<vtkIdType>(count * 3), 1);
    m_rgbView->SetArray(m_rgb.data(), static_cast<vtkIdType>(count * 3), 1);
    m_polyData->GetPoints()->Modified();
    m_polyData->Modified();
    actor->SetVisibility(count > 0);
}

} // namespace viewer
