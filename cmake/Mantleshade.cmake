include(GoogleTest)

macro(ms_find_dependencies)
  set(THREADS_PREFER_PTHREAD_FLAG ON)
  find_package(Threads REQUIRED)
  find_package(GTest REQUIRED)
  find_package(ICU REQUIRED COMPONENTS uc i18n data)
  find_package(nlohmann_json 3 REQUIRED)
  find_package(OpenSSL 3 REQUIRED)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Multimedia MultimediaWidgets Network DBus Test Svg)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBLO REQUIRED IMPORTED_TARGET liblo)
  find_library(OSCPACK_LIBRARY oscpack REQUIRED)
  add_library(oscpack::oscpack UNKNOWN IMPORTED)
  set_target_properties(oscpack::oscpack PROPERTIES
    IMPORTED_LOCATION ${OSCPACK_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES /usr/include/oscpack)
  find_package(benchmark QUIET)
endmacro()

# ms_library(<target> [QT] [DEPS ...])
# One library per folder, made of every .cpp (and .qrc) beside this CMakeLists.
# A folder with no sources yet gives a header-only (INTERFACE) target.
function(ms_library target)
  cmake_parse_arguments(L "QT" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex IN LISTS L_EXCLUDE)
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(L_QT)
    file(GLOB qrcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
    list(APPEND srcs ${qrcs})
  endif()
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>)
    target_link_libraries(${target} PUBLIC ${L_DEPS})
    if(L_QT)
      set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
    endif()
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>)
    target_link_libraries(${target} INTERFACE ${L_DEPS})
  endif()
endfunction()

# ms_tests(LIBS ...)
# tests/<folder>/<label>/*.cpp becomes one GoogleTest executable per label
# (unit, net, gui, e2e), each case registered with CTest under that label.
function(ms_tests)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" base ${rel})
  foreach(label unit net gui e2e)
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${label}/*.cpp)
    if(NOT srcs)
      continue()
    endif()
    set(exe test_${base}_${label})
    add_executable(${exe} ${srcs})
    target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${exe} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    set_target_properties(${exe} PROPERTIES AUTOMOC ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_compile_definitions(${exe} PRIVATE
      MS_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      MS_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
      MS_BINARY_DIR="${CMAKE_BINARY_DIR}")
    # The environment is compiled in (tests/support/TestEnvironment.cpp): a list-valued
    # ENVIRONMENT property does not survive gtest_discover_tests intact.
    target_sources(${exe} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/TestEnvironment.cpp)
    target_compile_definitions(${exe} PRIVATE
      MS_TEST_CONFIG_HOME="${CMAKE_BINARY_DIR}/test-config/${exe}")
    if(label STREQUAL "gui")
      target_compile_definitions(${exe} PRIVATE
        MS_TEST_QPA_PLATFORM="offscreen:configfile=${CMAKE_SOURCE_DIR}/tests/offscreen-two-screens.json")
    endif()
    set(props LABELS ${label} TIMEOUT 300)
    if(label STREQUAL "e2e")
      list(APPEND props RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
  endforeach()
endfunction()
