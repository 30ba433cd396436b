# The palette quantiser and the GIF writer: unit tests, included by this folder's CMakeLists.txt.
find_library(GIF_LIBRARY gif REQUIRED)
if(TARGET rasterkit_core)
  set(_palette_libs rasterkit_core)
else()
  # Before the library target exists, the two units build on their own.
  add_library(rasterkit_palette_units STATIC ${PROJECT_SOURCE_DIR}/rasterkit/palette.cc
                                             ${PROJECT_SOURCE_DIR}/rasterkit/gif_save.cc)
  target_include_directories(rasterkit_palette_units PUBLIC ${PROJECT_SOURCE_DIR}/rasterkit)
  target_link_libraries(rasterkit_palette_units PUBLIC ${GIF_LIBRARY} PRIVATE parvix_options)
  set(_palette_libs rasterkit_palette_units)
endif()
parvix_test(palette_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/palette_test.cc
            LIBS ${_palette_libs} LABELS rasterkit)
target_include_directories(palette_test PRIVATE ${PROJECT_SOURCE_DIR}/rasterkit)
parvix_test(gif_save_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/gif_save_test.cc
            LIBS ${_palette_libs} ${GIF_LIBRARY} LABELS rasterkit)
target_include_directories(gif_save_test PRIVATE ${PROJECT_SOURCE_DIR}/rasterkit)
