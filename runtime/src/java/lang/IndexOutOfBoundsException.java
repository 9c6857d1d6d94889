package java.lang;

public class IndexOutOfBoundsException extends RuntimeException {

    public IndexOutOfBoundsException() {
    }

    public IndexOutOfBoundsException(String message) {
        super(message);
    }

    int nameIndex() {
        return 6;
    }
}
