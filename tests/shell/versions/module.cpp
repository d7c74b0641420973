// A module that carries nothing but its version block (or none).
extern "C" __declspec(dllexport) int talvo_version_module() {
    return 0;
}
