# Library vamucorpus: naming, markup, corpus reader and generator of the
# documents of a base. Included by demo/ and by bench/ (which may be built
# without demo/), defined once.
if(NOT TARGET vamucorpus)
  set(_vamucorpus_dir ${CMAKE_CURRENT_LIST_DIR})
  add_library(vamucorpus STATIC
    ${_vamucorpus_dir}/act_name.cpp
    ${_vamucorpus_dir}/corpus_text.cpp
    ${_vamucorpus_dir}/doc_markup.cpp
    ${_vamucorpus_dir}/synthetic.cpp)
  target_link_libraries(vamucorpus PUBLIC vamuplatform)
  target_compile_definitions(vamucorpus PUBLIC VAMU_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  vamu_cp1250(vamucorpus)
endif()
