# delvora_add_test(<name> SOURCES <files...> LIBS <libs...> LABELS <labels...>)
# One QtTest executable per unit, registered with CTest; widgets run offscreen.
function(delvora_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  # Fixtures are found from the source tree, whatever name the compiler gives __FILE__.
  target_compile_definitions(${name} PRIVATE DELVORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DELVORA_BUILD_DIR=${PROJECT_BINARY_DIR};DELVORA_SOURCE_DIR=${PROJECT_SOURCE_DIR};${T_ENV}")
endfunction()

# Adds every tst_*.cpp below <dir> as its own test, labelled by layer and subsystem.
function(delvora_add_tests_in dir layer)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${dir}/tst_*.cpp)
  foreach(f ${files})
    get_filename_component(name ${f} NAME_WE)
    get_filename_component(d ${f} DIRECTORY)
    get_filename_component(subsystem ${d} NAME)
    delvora_add_test(${name} SOURCES ${f} LIBS ${T_LIBS} LABELS ${layer} ${subsystem})
  endforeach()
endfunction()
