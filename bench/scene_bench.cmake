add_executable(scene_bench ${CMAKE_CURRENT_SOURCE_DIR}/scene_bench.cpp)
target_include_directories(scene_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(scene_bench PRIVATE quadview_scene benchmark::benchmark)
