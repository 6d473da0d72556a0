# Frame-time benchmark of the renderer: render_frames.sh drives `quadscene render --frames` and
# render_va_frames, the benchmark-only vertex-array path it is compared with.
add_executable(render_va_frames
  ${CMAKE_CURRENT_SOURCE_DIR}/render_va_frames.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/vertex_array_renderer.cpp
)
target_include_directories(render_va_frames PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(render_va_frames PRIVATE quadview_render quadview_scene CLI11::CLI11
  PkgConfig::STB)
