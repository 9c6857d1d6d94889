/** Integer and Math within the 16-bit range, which must match a desktop JVM. */
public class Numbers {
    static void parse(String s) {
        try {
            System.out.println("parse " + s + " -> " + Integer.parseInt(s));
        } catch (NumberFormatException e) {
            System.out.println("parse " + s + " -> " + e);
        }
    }

    public static void main(String[] args) {
        int[] values = {0, 1, -1, 9, 10, -10, 99, 100, 999, 1000, 9999, 10000, -9999, -10000, 12345, 32767, -32767, -32768};
        for (int i = 0; i < values.length; i++) {
            String text = Integer.toString(values[i]);
            System.out.println(text + " " + text.length() + " " + (Integer.parseInt(text) == values[i]));
        }
        String[] inputs = {"0", "-0", "+7", "007", "-32768", "32767", "123", "", "-", "+", "abc", "1x", "x1", " 1", "--1", "3.5"};
        for (int i = 0; i < inputs.length; i++) {
            parse(inputs[i]);
        }
        try {
            Integer.parseInt(null);
        } catch (NumberFormatException e) {
            System.out.println(e.getMessage());
        }
        try {
            Integer.parseInt("?");
        } catch (IllegalArgumentException e) {
            System.out.println("NumberFormatException is an IllegalArgumentException");
        }
        System.out.println(Math.abs(-5) + " " + Math.abs(5) + " " + Math.abs(0) + " " + Math.abs(-32767));
        System.out.println(Math.min(3, -4) + " " + Math.max(3, -4) + " " + Math.min(-32768, 32767) + " " + Math.max(-32768, 32767) + " " + Math.min(2, 2));
        int sum = 0;
        for (int i = 1; i <= 200; i++) {
            sum += i;
        }
        System.out.println("sum " + sum + " " + sum / 7 + " " + sum % 7 + " " + (-sum) / 7 + " " + (-sum) % 7);
    }
}
