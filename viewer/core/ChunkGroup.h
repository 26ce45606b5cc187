#pragma once

#include <vtkSmartPointer.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class vtkActor;
class vtkFloatArray;
class vtkPolyData;
class vtkProperty;
class vtkUnsignedCharArray;

namespace viewer {

struct CloudChunk;

// What several chunks draw, drawn by one actor. A software rasteriser pays a fixed cost per actor
// in every frame (about 0.2 ms): with ten million points in 150 chunks, most of a frame of a few
// tens of thousands of points. The group holds a copy of what its chunks' views hold, which is
// their drawn share only, and takes it again whenever a member is drawn anew or the members
// change.
class ChunkGroup {
public:
    // The actor is added to nothing; it shares property.
    explicit ChunkGroup(vtkProperty* property);
    ~ChunkGroup();
    ChunkGroup(const ChunkGroup&) = delete;
    ChunkGroup& operator=(const ChunkGroup&) = delete;

    // Copies again what members draw when they are not those of the last copy (by start and by
    // the version of their draw), and shows it; hides the actor when nothing is to be drawn.
    void update(const std::vector<const CloudChunk*>& members);

    std::size_t bytes() const { return m_xyz.capacity() * sizeof(float) + m_rgb.capacity(); }

    vtkSmartPointer<vtkActor> actor;

private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_members; // start, draw version
    std::vector<float> m_xyz;
    std::vector<std::uint8_t> m_rgb;
    vtkSmartPointer<vtkFloatArray> m_xyzView;
    vtkSmartPointer<vtkUnsignedCharArray> m_rgbView;
    vtkSmartPointer<vtkPolyData> m_polyData;
};

} // namespace viewer
