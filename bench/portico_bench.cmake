# The page benchmark (portico_bench.sh): the program that makes its site.
if(TARGET portico AND TARGET concorda)
  add_executable(portico_bench_site portico_bench_site.cpp)
  target_link_libraries(portico_bench_site PRIVATE concorda kasten vamuplatform)
endif()
