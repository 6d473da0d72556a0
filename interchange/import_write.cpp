// Import's last stage: the records as the quad list, after the images the first stage wrote,
// and then the whole scene put in place at once.
#include "interchange/stages.h"

void WriteImportedScene(SceneWriter& out, const ImportedScene& scene,
                        const RecordProgress& progress) {
  QuadListWriter& records = out.Records();
  for (int32_t i = 0; i < scene.records.count; ++i) {
    records.Write(scene.records.records[static_cast<size_t>(i)]);
    progress(i + 1, scene.records.count);
  }
  out.Commit();
}
