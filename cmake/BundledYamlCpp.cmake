# Builds extern/yaml-cpp as a static library with position-independent code and hidden symbols
# (it is linked into the Python module, which must not export yaml-cpp's symbols: another
# module in the same process may carry another yaml-cpp).
# Its own compile flags apply, not our warnings; its headers are system headers to our code.

function(tessel_add_bundled_yaml_cpp)
  # Its cmake_minimum_required(VERSION 3.4) is rejected by CMake 4 without a policy minimum;
  # 3.10 is the oldest that CMake 4 accepts without a deprecation warning.
  set(CMAKE_POLICY_VERSION_MINIMUM 3.10)
  # Under the old policies it asks for, option() would ignore the variables below and
  # CMAKE_INTERPROCEDURAL_OPTIMIZATION would be ignored.
  set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)
  set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
  set(YAML_CPP_BUILD_TESTS OFF)
  set(YAML_CPP_BUILD_TOOLS OFF)
  set(YAML_CPP_BUILD_CONTRIB OFF)
  set(YAML_BUILD_SHARED_LIBS OFF)
  set(YAML_CPP_INSTALL OFF)
  set(YAML_CPP_FORMAT_SOURCE OFF)
  add_subdirectory(${PROJECT_SOURCE_DIR}/extern/yaml-cpp ${PROJECT_BINARY_DIR}/extern/yaml-cpp
                   EXCLUDE_FROM_ALL)

  set_target_properties(yaml-cpp PROPERTIES POSITION_INDEPENDENT_CODE ON
                                            CXX_VISIBILITY_PRESET hidden
                                            VISIBILITY_INLINES_HIDDEN ON)
  get_target_property(includes yaml-cpp INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(yaml-cpp PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${includes}")

  file(STRINGS ${PROJECT_SOURCE_DIR}/extern/yaml-cpp/CMakeLists.txt project_line
       REGEX "^project\\(YAML_CPP VERSION [0-9.]+")
  string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" version "${project_line}")
  message(STATUS "yaml-cpp: bundled (extern/yaml-cpp), ${version}")
endfunction()

tessel_add_bundled_yaml_cpp()
