# Windows build: straight calls into kernel32 and advapi32.
add_executable(velmora src/cli/main.cpp src/platform/win32.cpp)
target_link_libraries(velmora PRIVATE velmora_logic)
target_compile_options(velmora PRIVATE ${VELMORA_WARNINGS})
