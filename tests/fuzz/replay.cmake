# Regression replay of the fuzz targets, built in every build: each target's
# seed corpus and a fixed set of mutations of it run through the target with
# a plain driver (replay_main.cpp); a broken invariant aborts and fails the test.
# Included from tests/CMakeLists.txt after the layer test folders.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/targets.cmake)

# Mutations per target, each test a few seconds under the sanitizers: the HEX
# converter goes through a file, the simulated chip compares its flash after
# every reply, and the reply engine's refusals each wait for a reset pulse.
set(chipload_fuzz_replay_mutations_default 20000)
set(chipload_fuzz_replay_mutations_hex_loader 2000)
set(chipload_fuzz_replay_mutations_sim_target 2000)
set(chipload_fuzz_replay_mutations_sim_rfc2217 8000)
set(chipload_fuzz_replay_mutations_reply_engine 400)

foreach(name IN LISTS CHIPLOAD_FUZZ_TARGETS)
  chipload_fuzz_available(${name})
  if(NOT ${name}_available)
    continue()
  endif()
  set(exe fuzz_replay_${name})
  add_executable(${exe} ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
  chipload_fuzz_wire(${exe} ${name})
  if(DEFINED chipload_fuzz_replay_mutations_${name})
    set(mutations ${chipload_fuzz_replay_mutations_${name}})
  else()
    set(mutations ${chipload_fuzz_replay_mutations_default})
  endif()
  add_test(NAME fuzz_replay_${name}
           COMMAND ${exe} ${CMAKE_CURRENT_LIST_DIR}/corpus/${name} ${mutations})
  set_tests_properties(fuzz_replay_${name} PROPERTIES LABELS unit TIMEOUT 60)
endforeach()
