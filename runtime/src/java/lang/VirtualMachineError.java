package java.lang;

public abstract class VirtualMachineError extends Error {

    public VirtualMachineError() {
    }

    public VirtualMachineError(String message) {
        super(message);
    }

    int nameIndex() {
        return 12;
    }
}
