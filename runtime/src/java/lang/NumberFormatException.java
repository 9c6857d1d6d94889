package java.lang;

public class NumberFormatException extends IllegalArgumentException {

    public NumberFormatException() {
    }

    public NumberFormatException(String message) {
        super(message);
    }

    int nameIndex() {
        return 11;
    }
}
