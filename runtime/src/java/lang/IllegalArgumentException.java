package java.lang;

public class IllegalArgumentException extends RuntimeException {

    public IllegalArgumentException() {
    }

    public IllegalArgumentException(String message) {
        super(message);
    }

    int nameIndex() {
        return 10;
    }
}
