/** Every PrintStream overload, including text longer than one message chunk. */
public class Printing {
    public String toString() {
        return "a Printing";
    }

    public static void main(String[] args) {
        System.out.print("no newline;");
        System.out.print(-123);
        System.out.print('c');
        System.out.print(true);
        System.out.print(new Printing());
        System.out.print((Object) null);
        System.out.print((String) null);
        char[] word = {'w', 'o', 'r', 'd'};
        System.out.print(word);
        System.out.println();
        System.out.println("line");
        System.out.println(32767);
        System.out.println('z');
        System.out.println(false);
        System.out.println(new Printing());
        System.out.println((Object) null);
        System.out.println((String) null);
        System.out.println(word);
        System.out.println("");
        System.out.println("0123456789012345678901234567890");
        System.out.println("01234567890123456789012345678901");
        System.out.println("012345678901234567890123456789012");
        System.out.print("0123456789012345678901234567890123456789012345678901234567890123456789");
        System.out.println();
        System.out.flush();
    }
}
