package java.lang;

public class NegativeArraySizeException extends RuntimeException {

    public NegativeArraySizeException() {
    }

    public NegativeArraySizeException(String message) {
        super(message);
    }

    int nameIndex() {
        return 8;
    }
}
