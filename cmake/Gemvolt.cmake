# Helpers shared by every folder of the build.

set(GEMVOLT_TEST_BIN_DIR ${CMAKE_BINARY_DIR}/tests-bin)
set(GEMVOLT_LSAN_SUPPRESSIONS ${CMAKE_SOURCE_DIR}/tests/lsan.supp)

# gemvolt_add_library(name SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One static library per layer; includes are written from the source root.
function(gemvolt_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
endfunction()

# gemvolt_add_program(name SOURCES ... LIBS ... [NO_INSTALL])
# A program is a short main.cpp over the layer libraries; it is built into bin/
# with the assets beside it and installed into GEMVOLT_INSTALL_BINDIR, its assets
# into GEMVOLT_INSTALL_DATADIR. main.cpp gets the release as GEMVOLT_VERSION.
function(gemvolt_add_program name)
  cmake_parse_arguments(ARG "NO_INSTALL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_compile_definitions(${name} PRIVATE GEMVOLT_VERSION="${PROJECT_VERSION}")
  if(TARGET gemvolt_assets)
    add_dependencies(${name} gemvolt_assets)
  endif()
  if(NOT ARG_NO_INSTALL)
    install(TARGETS ${name} RUNTIME DESTINATION ${GEMVOLT_INSTALL_BINDIR})
  endif()
endfunction()

# gemvolt_add_test(name SOURCES ... LIBS ... [GUI] [TIMEOUT s] [ENVIRONMENT ...])
# One Qt Test executable per area, registered with CTest. GUI tests run on the
# offscreen platform; sound always runs with no device unless a test sets its own.
function(gemvolt_add_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${GEMVOLT_TEST_BIN_DIR})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set(env "ALSOFT_DRIVERS=none" "ALSOFT_LOGLEVEL=0" "XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime"
          "GEMVOLT_BIN_DIR=${GEMVOLT_BIN_DIR}" "GEMVOLT_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
          "GEMVOLT_VERSION=${PROJECT_VERSION}")
  if(ARG_GUI)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(GEMVOLT_SANITIZE)
    list(APPEND env "LSAN_OPTIONS=suppressions=${GEMVOLT_LSAN_SUPPRESSIONS}:print_suppressions=0"
                    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0"
                    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  endif()
  list(APPEND env ${ARG_ENVIRONMENT})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/xdg-runtime)
file(CHMOD ${CMAKE_BINARY_DIR}/xdg-runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

# gemvolt_install_configured(template DESTINATION dir)
# Installs a file that names the installed programs: @GEMVOLT_PROGRAM_DIR@ in
# the template becomes the programs' absolute folder. It is filled in at install
# time, because `cmake --install --prefix` (and CPack) choose the prefix then.
function(gemvolt_install_configured template)
  cmake_parse_arguments(ARG "" "DESTINATION" "" ${ARGN})
  get_filename_component(name "${template}" NAME)
  string(REGEX REPLACE "\\.in$" "" name "${name}")
  set(src ${CMAKE_CURRENT_SOURCE_DIR}/${template})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/install-time/${name})
  install(CODE "set(GEMVOLT_PROGRAM_DIR \"\${CMAKE_INSTALL_PREFIX}/${GEMVOLT_INSTALL_BINDIR}\")
    set(GEMVOLT_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${src}\" \"${out}\" @ONLY)")
  install(FILES ${out} DESTINATION ${ARG_DESTINATION})
endfunction()
