#include "settings/render_settings.h"

#include <type_traits>

#include "platform/atomic_file.h"
#include "platform/file_reader.h"

namespace zoomreel {
namespace {

// One list of fields per record, in file order, walked by both the load and the save, so the two cannot drift.
template <typename Record, typename Visit>
void visitFields(Record& r, Visit&& visit) {
    if constexpr (std::is_same_v<std::remove_const_t<Record>, ReliefSettings>) {
        visit(r.active); visit(r.power); visit(r.ratio); visit(r.lightDirection); visit(r.distanceEstimator);
        visit(r.deWrapToZero); visit(r.deSqrt); visit(r.deSqrtSqrt); visit(r.phong); visit(r.phongSize);
        visit(r.phongRatio); visit(r.lightElevation); visit(r.phong2); visit(r.phong2Size); visit(r.phong2Ratio);
        visit(r.light2Elevation);
    } else if constexpr (std::is_same_v<std::remove_const_t<Record>, Projection3DSettings>) {
        visit(r.active); visit(r.sqrtIter); visit(r.logIter); visit(r.projectionAngle); visit(r.zScale);
        visit(r.maxIter); visit(r.vertShift); visit(r.gaussianFilter); visit(r.asymptotic); visit(r.shadowCoef);
        visit(r.shadowAngle);
    } else {
        visit(r.subtract); visit(r.averageFrames);
    }
}

template <typename Record>
bool loadRecord(const std::filesystem::path& path, Record& record) {
    FileReader file(path);
    if (!file.isOpen()) return false;
    visitFields(record, [&](auto& field) { file.readValue(field); });
    return true;
}

template <typename Record>
Status saveRecord(const std::filesystem::path& path, const Record& record) {
    AtomicFileWriter out(path);
    visitFields(record, [&](const auto& field) { out.writeValue(field); });
    return out.commit();
}

}  // namespace

bool loadRelief(const std::filesystem::path& path, ReliefSettings& relief) { return loadRecord(path, relief); }
Status saveRelief(const std::filesystem::path& path, const ReliefSettings& relief) { return saveRecord(path, relief); }

bool load3D(const std::filesystem::path& path, Projection3DSettings& projection) {
    if (!loadRecord(path, projection)) return false;
    projection.setProjectionAngle(projection.projectionAngle);
    return true;
}
Status save3D(const std::filesystem::path& path, const Projection3DSettings& projection) {
    return saveRecord(path, projection);
}

bool loadSubtractMinimum(const std::filesystem::path& path, SubtractMinimumSettings& subtraction) {
    return loadRecord(path, subtraction);
}
Status saveSubtractMinimum(const std::filesystem::path& path, const SubtractMinimumSettings& subtraction) {
    return saveRecord(path, subtraction);
}

}  // namespace zoomreel
