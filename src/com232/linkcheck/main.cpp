// Built only to prove at link time that the protocol-and-files core needs
// nothing but the core half of the runtime: every object of the core is
// linked in, so any call into the panel or a higher layer fails the build.
int main() {
    return 0;
}
